#include "Workbench.h"

#include <cmath>

#include "Log.h"
#include "World.h"

const ProductInfo g_productArr[PRODUCT_TABLE_SIZE] = {
    {0, 99999999, 99999999, 9999},  //
    {1, 3000, 6000, 50},            //
    {2, 4400, 7600, 50},            //
    {3, 5800, 9200, 50},            //
    {4, 15400, 22500, 500},         //
    {5, 17200, 25000, 500},         //
    {6, 19200, 27500, 500},         //
    {7, 76000, 105000, 1000},       //
};

namespace {

constexpr int MIN_WORKBENCH_TYPE = 1;
constexpr int MAX_WORKBENCH_TYPE = 9;
constexpr int MAX_RECIPE_INPUTS = 7;

struct Recipe {
    int32_t product;
    int32_t inputCount;
    int32_t inputs[MAX_RECIPE_INPUTS];  // product ids in slot order
};

// Indexed by workbench type - 1.
const Recipe RECIPES[MAX_WORKBENCH_TYPE] = {
    {1, 0, {}},
    {2, 0, {}},
    {3, 0, {}},
    {4, 2, {1, 2}},
    {5, 2, {1, 3}},
    {6, 2, {2, 3}},
    {7, 3, {4, 5, 6}},
    {0, 1, {7}},
    {0, 7, {1, 2, 3, 4, 5, 6, 7}},
};

bool IsValidType(int type) { return type >= MIN_WORKBENCH_TYPE && type <= MAX_WORKBENCH_TYPE; }

bool HasAllMaterials(const std::vector<Material>& slots) {
    for (const Material& slot : slots) {
        if (!slot.present) return false;
    }
    return true;
}

void ClearMaterials(std::vector<Material>& slots) {
    for (Material& slot : slots) slot.present = false;
}

// The rate falls from 1.0 at x = 0 to minRate at x = 1 along a quarter circle.
// Every operation stays in single precision, in this order, for bit-exact results.
float QuarterCircleRate(float x, float k, float minRate) {
    float u = 1.0f - x;
    float v = 1.0f - u * u;
    return (1.0f - std::sqrt(v)) * k + minRate;
}

// A value that is not a number (a rate of an impossible impact) pays nothing
// rather than being converted with undefined behaviour.
int TruncateValue(float value) {
    if (!(value >= 0.0f && value < 2147483648.0f)) return 0;
    return static_cast<int>(value);
}

WorkbenchInfo MakeInfo(const Workbench& wb) {
    WorkbenchInfo info;
    info.x = wb.m_pos.x;
    info.y = wb.m_pos.y;
    info.type = wb.m_id;
    info.remain = wb.m_iRemain;
    info.needMask = 0;
    info.haveMask = 0;
    for (const Material& slot : wb.m_material) {
        info.needMask |= 1u << slot.id;
        if (slot.present) info.haveMask |= 1u << slot.id;
    }
    info.ready = (wb.m_iProduct != 0 && wb.m_bReady) ? 1 : 0;
    if (wb.m_iProduct != 0 && wb.m_iRemain >= 0) {
        const int32_t frames = g_productArr[wb.m_iProduct].frames;
        info.progress = static_cast<float>(frames - wb.m_iRemain) / static_cast<float>(frames);
    } else {
        info.progress = -1.0f;
    }
    return info;
}

}  // namespace

// ---------------------------------------------------------------- Workbench

Workbench::Workbench(int type, b2Vec2 pos) : m_id(type), m_pos(pos), m_iRemain(-1), m_iProduct(0), m_bReady(false) {
    if (IsValidType(type)) {
        const Recipe& recipe = RECIPES[type - MIN_WORKBENCH_TYPE];
        for (int i = 0; i < recipe.inputCount; ++i) m_material.push_back(Material{recipe.inputs[i], false});
        m_iProduct = recipe.product;
    } else {
        LOG_ERR("Workbench create with invalid id(%d).\n", type);
    }
    HARD_ASSERT(m_material.size() <= 3 || m_id == 9);
}

void Workbench::Step() {
    if (m_iProduct == 0) {
        // Types 8 and 9 hold what they are sold only until the next step.
        ClearMaterials(m_material);
        return;
    }
    if (m_iRemain == -1) {
        if (!HasAllMaterials(m_material)) return;
        LOG_DBG("Producing start, wbId(%d), frame:%d.\n", m_id, GetCurrentFrame());
        ClearMaterials(m_material);
        m_iRemain = g_productArr[m_iProduct].frames;
    }
    if (m_iRemain > 0) --m_iRemain;
    if (m_iRemain == 0) HandleTime0();
}

void Workbench::HandleTime0() {
    // With a product still waiting the workbench stays blocked at 0 until it is bought.
    if (m_bReady) return;
    m_bReady = true;
    LOG_DBG("Producing finish, wbId(%d), prodId(%d),  frame:%d.\n", m_id, m_iProduct, GetCurrentFrame());
    m_iRemain = -1;
}

int Workbench::Buy(int money, int* prodId) {
    if (m_iProduct == 0 || !m_bReady) {
        LOG_INFO("product is not ready.\n");
        return -1;
    }
    const int price = g_productArr[m_iProduct].buyPrice;
    if (money < price) {
        LOG_INFO("Money is not enough: %d  expect %d\n", money, price);
        return -1;
    }
    *prodId = m_iProduct;
    m_bReady = false;
    LOG_DBG("Buy success, wbId(%d), prodId(%d).\n", m_id, m_iProduct);
    return price;
}

int Workbench::GetProductPrice() const {
    if (m_iProduct == 0) return -1;
    return g_productArr[m_iProduct].buyPrice;
}

int Workbench::Sell(int prodId, int buyFrame, float impact) {
    Material* slot = nullptr;
    for (Material& candidate : m_material) {
        if (candidate.id == prodId) {
            slot = &candidate;
            break;
        }
    }
    if (slot == nullptr) {
        LOG_INFO("Can not sell product:%d\n", prodId);
        return -1;
    }
    if (slot->present) {
        LOG_INFO("Product:%d already exists.\n", prodId);
        return -1;
    }
    slot->present = true;
    LOG_DBG("Sell success, wbId(%d), prodId(%d).\n", m_id, prodId);
    return GetProductNowVal(prodId, buyFrame, impact);
}

float Workbench::GetProductTimeRate(int buyFrame) {
    // Widened so that no purchase frame can overflow the difference.
    int64_t usedTime = static_cast<int64_t>(GetCurrentFrame()) - buyFrame;
    if (usedTime < 0) {
        LOG_ASSERT_FAILED("usedTime >= 0");
        // A purchase in the future cannot happen; counting it as just bought
        // keeps the rate a number.
        usedTime = 0;
    }
    float t = static_cast<float>(usedTime);
    float x = (TIME_RATE_REF_FRAMES < t ? TIME_RATE_REF_FRAMES : t) / TIME_RATE_REF_FRAMES;
    float timeRate = QuarterCircleRate(x, TIME_RATE_K, MIN_TIME_RATE);
    SOFT_ASSERT(timeRate >= MIN_TIME_RATE && timeRate <= 1);
    return timeRate;
}

float Workbench::GetProductImpactRate(float impact) {
    float x = (IMPACT_RATE_REF < impact ? IMPACT_RATE_REF : impact) / IMPACT_RATE_REF;
    float impactRate = QuarterCircleRate(x, IMPACT_RATE_K, MIN_IMPACT_RATE);
    SOFT_ASSERT(impactRate >= MIN_IMPACT_RATE && impactRate <= 1);
    return impactRate;
}

float Workbench::GetProductValueRate(int buyFrame, float impact) {
    // The time rate first, so that its assertion line comes first.
    float timeRate = GetProductTimeRate(buyFrame);
    float impactRate = GetProductImpactRate(impact);
    return impactRate * timeRate;
}

int Workbench::GetProductNowVal(int prodId, int buyFrame, float impact) {
    if (prodId <= 0) {
        LOG_ASSERT_FAILED("prodId > 0");
        return 0;
    }
    if (prodId >= PRODUCT_TABLE_SIZE) {
        LOG_ASSERT_FAILED("prodId < sizeof(g_productArr) / sizeof(g_productArr[0])");
        return 0;
    }
    // The rates are multiplied with each other first, then the price by their product.
    float r = GetProductValueRate(buyFrame, impact);
    float value = static_cast<float>(g_productArr[prodId].sellPrice) * r;
    return TruncateValue(value);
}

// ---------------------------------------------------------------- WorkbenchList

Workbench& WorkbenchList::At(int idx) {
    HARD_ASSERT(idx >= 0 && idx < Size());
    return m_list[idx];
}

const Workbench& WorkbenchList::At(int idx) const {
    HARD_ASSERT(idx >= 0 && idx < Size());
    return m_list[idx];
}

void WorkbenchList::Step() {
    for (Workbench& wb : m_list) wb.Step();
}

Workbench* WorkbenchList::FindNear(b2Vec2 pos) {
    const int idx = FindNearIdx(pos);
    return idx < 0 ? nullptr : &m_list[idx];
}

int WorkbenchList::FindNearIdx(b2Vec2 pos) const {
    int best = -1;
    float bestDist = 0.0f;
    for (int i = 0; i < Size(); ++i) {
        const float dx = pos.x - m_list[i].m_pos.x;
        const float dy = pos.y - m_list[i].m_pos.y;
        const float d = dx * dx + dy * dy;
        // Strictly nearer only: a tie keeps the earlier workbench.
        if (WORKBENCH_NEAR_DIST_SQ > d && (best < 0 || d < bestDist)) {
            best = i;
            bestDist = d;
        }
    }
    return best;
}

std::vector<WorkbenchInfo> WorkbenchList::CollectInfo() const {
    std::vector<WorkbenchInfo> infos;
    infos.reserve(m_list.size());
    for (const Workbench& wb : m_list) infos.push_back(MakeInfo(wb));
    return infos;
}
