// Workbenches, the product table and production.
//
// Threads: workbenches are built and the replay header's CollectInfo runs on
// the main thread at start-up, before the game thread exists; from then on
// every operation (production step, buying, selling, CollectInfo for the frame
// message and the recording) runs on the game thread only.  No lock is taken;
// the lidar workers never read workbench data.  g_productArr is constant.
#pragma once

#include <box2d/box2d.h>

#include <cstdint>
#include <vector>

// Price and production time of one product, indexed by product id.
struct ProductInfo {
    int32_t id;
    int32_t buyPrice;   // paid to the workbench when buying
    int32_t sellPrice;  // paid for a sale before the time and impact rates
    int32_t frames;     // production time
};

// Row 0 is a placeholder that is never bought, sold or produced; rows 1 to 7
// are the products.
constexpr int PRODUCT_TABLE_SIZE = 8;
extern const ProductInfo g_productArr[PRODUCT_TABLE_SIZE];

// Both rates of a carried product fall from 1.0 to this floor.
constexpr float MIN_TIME_RATE = 0.8f;
constexpr float MIN_IMPACT_RATE = 0.8f;
// Span of each rate, formed in single precision: 0.19999999 (0x3E4CCCCC), not
// the single nearest to 0.2, so that a rate of 1.0 comes out exactly 1.0f.
constexpr float TIME_RATE_K = 1.0f - MIN_TIME_RATE;
constexpr float IMPACT_RATE_K = 1.0f - MIN_IMPACT_RATE;
// Frames carried and collision impulse at which the rates reach their floor.
constexpr float TIME_RATE_REF_FRAMES = 9000.0f;
constexpr float IMPACT_RATE_REF = 2000.0f;

// A robot is at a workbench when nearer to its centre than this (metres).
constexpr float WORKBENCH_NEAR_DIST = 0.4f;
// The search compares squared distances against this single, which is not
// WORKBENCH_NEAR_DIST squared in float (0.4f * 0.4f rounds above it).
constexpr float WORKBENCH_NEAR_DIST_SQ = 0.16f;

// The per-workbench record shared by the frame message, the replay and the display.
struct WorkbenchInfo {
    float x;
    float y;
    int32_t type;
    int32_t remain;     // m_iRemain
    uint32_t needMask;  // bit id set per input slot
    uint32_t haveMask;  // bit id set per present material
    int32_t ready;      // 1 when a finished product waits
    float progress;     // [0, 1] while producing or blocked, else -1.0
};

// One input slot of a workbench.
struct Material {
    int32_t id;    // product id the slot takes
    bool present;  // the material is held
};

// One workbench.  Types 1 to 7 make the product of the same id; 8 and 9 only
// take materials and forget them at the next step.
struct Workbench {
    // A type outside 1..9 logs an error and makes a workbench that takes and
    // makes nothing.
    Workbench(int type, b2Vec2 pos);

    // One production step; called once per frame by WorkbenchList::Step.
    void Step();
    // The countdown has reached 0: finish, or stay blocked while a product waits.
    void HandleTime0();

    // Hands out the waiting product if money suffices: returns the price and
    // writes the product id to *prodId, or returns -1 (logged) and leaves it.
    int Buy(int money, int* prodId);
    // buyPrice of the product, or -1 when the workbench makes nothing.
    int GetProductPrice() const;
    // Takes the product as a material: returns the money to pay, or -1 when
    // the workbench does not take it or already holds it (logged).
    int Sell(int prodId, int buyFrame, float impact);

    // Rates of a carried product bought at buyFrame (counted up to the current
    // frame) with the collision impulse impact, each in [0.8, 1], bit-exact.
    // A buyFrame after the current frame logs an assertion and counts as just
    // bought; a negative impact logs one and gives no number (NaN), which
    // GetProductNowVal turns into a value of 0.
    static float GetProductTimeRate(int buyFrame);
    static float GetProductImpactRate(float impact);
    static float GetProductValueRate(int buyFrame, float impact);
    // The money a sale of prodId pays now; 0 for an id outside the table.
    static int GetProductNowVal(int prodId, int buyFrame, float impact);

    int32_t m_id;                     // type 1 to 9
    b2Vec2 m_pos;                     // centre in metres
    int32_t m_iRemain;                // -1 idle, > 0 producing, 0 blocked
    std::vector<Material> m_material; // input slots in recipe order
    int32_t m_iProduct;               // product made, 0 for types 8 and 9
    bool m_bReady;                    // a finished product waits to be bought
};

// All workbenches of one player, in map scan order; an index into the list is
// the workbench index that robots and the frame message use.
class WorkbenchList {
public:
    void Add(const Workbench& workbench) { m_list.push_back(workbench); }
    int Size() const { return static_cast<int>(m_list.size()); }
    // idx must be in [0, Size()).
    Workbench& At(int idx);
    const Workbench& At(int idx) const;

    // One production step of every workbench, in list order.
    void Step();
    // The nearest workbench whose centre is nearer than WORKBENCH_NEAR_DIST;
    // the earlier one on a tie.  Null / -1 when there is none.
    Workbench* FindNear(b2Vec2 pos);
    int FindNearIdx(b2Vec2 pos) const;
    // One record per workbench, in list order.
    std::vector<WorkbenchInfo> CollectInfo() const;

private:
    std::vector<Workbench> m_list;
};
