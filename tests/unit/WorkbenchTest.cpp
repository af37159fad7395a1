// Workbenches: production frame by frame, buying and selling with their log
// lines, the value rates to the bit, and the nearest-workbench search.

#include "Workbench.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "Game.h"
#include "Log.h"
#include "TestSupport.h"
#include "World.h"

namespace {

constexpr uint32_t BITS_ONE = 0x3F800000;       // 1.0f
constexpr uint32_t BITS_MIN_RATE = 0x3F4CCCCD;  // 0.8f
constexpr uint32_t BITS_HALF_RATE = 0x3F53A8D5;  // 0.8267949f, the rate at x = 0.5
constexpr uint32_t BITS_MIN_VALUE_RATE = 0x3F23D70B;  // 0.8f * 0.8f = 0.64000005f

// Advances the world's frame counter, as the frame loop does after each frame.
void NextFrame() { Game::GetInstance()->GetWorld().Step(); }

// One log line of this module as it is written in the current frame.
std::string Line(const char* tag, const char* function, const std::string& message) {
    return std::string("[") + tag + "]Robot/Workbench.cpp:L|" + function + "|frame[" +
           std::to_string(GetCurrentFrame()) + "]|" + message;
}

std::string AssertLine(const char* function, const char* expr) {
    return Line("ASSERT", function, std::string("assert \"") + expr + "\" failed\n");
}

// A one-workbench list, so that the state is read through CollectInfo as the
// frame message and the replay read it.
struct OneBench {
    explicit OneBench(int type) { list.Add(Workbench(type, b2Vec2(12.25f, 37.75f))); }
    Workbench& wb() { return list.At(0); }
    WorkbenchInfo Info() const { return list.CollectInfo().at(0); }
    void Steps(int n) {
        for (int i = 0; i < n; ++i) list.Step();
    }
    WorkbenchList list;
};

// ---------------------------------------------------------------- construction

struct RecipeRow {
    const char* name;
    int type;
    int product;
    uint32_t needMask;
    int price;
};

TEST(WorkbenchConstruction, RecipesOfEveryType) {
    const RecipeRow rows[] = {
        {"type1", 1, 1, 0, 3000},
        {"type2", 2, 2, 0, 4400},
        {"type3", 3, 3, 0, 5800},
        {"type4", 4, 4, (1u << 1) | (1u << 2), 15400},
        {"type5", 5, 5, (1u << 1) | (1u << 3), 17200},
        {"type6", 6, 6, (1u << 2) | (1u << 3), 19200},
        {"type7", 7, 7, (1u << 4) | (1u << 5) | (1u << 6), 76000},
        {"type8", 8, 0, 1u << 7, -1},
        {"type9", 9, 0, 0xFEu, -1},
    };
    for (const RecipeRow& row : rows) {
        SCOPED_TRACE(row.name);
        OneBench b(row.type);
        EXPECT_EQ(b.wb().m_iProduct, row.product);
        EXPECT_EQ(b.wb().GetProductPrice(), row.price);
        EXPECT_FALSE(b.wb().m_bReady);
        for (const Material& slot : b.wb().m_material) EXPECT_FALSE(slot.present);
        const WorkbenchInfo info = b.Info();
        EXPECT_EQ(FloatBits(info.x), FloatBits(12.25f));
        EXPECT_EQ(FloatBits(info.y), FloatBits(37.75f));
        EXPECT_EQ(info.type, row.type);
        EXPECT_EQ(info.remain, -1);
        EXPECT_EQ(info.needMask, row.needMask);
        EXPECT_EQ(info.haveMask, 0u);
        EXPECT_EQ(info.ready, 0);
        EXPECT_EQ(FloatBits(info.progress), FloatBits(-1.0f));
    }
}

TEST(WorkbenchConstruction, SlotsInRecipeOrder) {
    OneBench b(7);
    ASSERT_EQ(b.wb().m_material.size(), 3u);
    EXPECT_EQ(b.wb().m_material[0].id, 4);
    EXPECT_EQ(b.wb().m_material[1].id, 5);
    EXPECT_EQ(b.wb().m_material[2].id, 6);
}

TEST(WorkbenchConstruction, InvalidTypeLogsAndTakesNothing) {
    for (int type : {0, 10, -3}) {
        SCOPED_TRACE(type);
        LogCapture log;
        OneBench b(type);
        EXPECT_EQ(log.Take(), Line("ERR", "Workbench::Workbench",
                                   "Workbench create with invalid id(" + std::to_string(type) + ").\n"));
        EXPECT_TRUE(b.wb().m_material.empty());
        EXPECT_EQ(b.wb().m_iProduct, 0);
        EXPECT_EQ(b.wb().GetProductPrice(), -1);

        LogCapture refusals;
        int out = 77;
        EXPECT_EQ(b.wb().Sell(1, GetCurrentFrame(), 0.0f), -1);
        EXPECT_EQ(b.wb().Buy(1000000, &out), -1);
        EXPECT_EQ(out, 77);
        b.Steps(3);
        EXPECT_EQ(refusals.Take(), Line("INFO", "Workbench::Sell", "Can not sell product:1\n") +
                                       Line("INFO", "Workbench::Buy", "product is not ready.\n"));
        const WorkbenchInfo info = b.Info();
        EXPECT_EQ(info.type, type);
        EXPECT_EQ(info.remain, -1);
        EXPECT_EQ(info.needMask, 0u);
        EXPECT_EQ(info.ready, 0);
        EXPECT_EQ(FloatBits(info.progress), FloatBits(-1.0f));
    }
}

// ---------------------------------------------------------------- production

TEST(WorkbenchProduction, Type1CycleBlockAndPurchase) {
    OneBench b(1);
    b.Steps(1);
    EXPECT_EQ(b.Info().remain, 49);
    EXPECT_EQ(b.Info().ready, 0);
    EXPECT_EQ(FloatBits(b.Info().progress), FloatBits(1.0f / 50.0f));

    b.Steps(48);
    EXPECT_EQ(b.Info().remain, 1);
    EXPECT_EQ(b.Info().ready, 0);
    EXPECT_EQ(FloatBits(b.Info().progress), FloatBits(49.0f / 50.0f));

    b.Steps(1);  // the 50th step finishes
    EXPECT_EQ(b.Info().remain, -1);
    EXPECT_EQ(b.Info().ready, 1);
    EXPECT_EQ(FloatBits(b.Info().progress), FloatBits(-1.0f));

    b.Steps(1);  // a new cycle starts although the first product waits
    EXPECT_EQ(b.Info().remain, 49);
    EXPECT_EQ(b.Info().ready, 1);

    b.Steps(49);  // 100 steps: blocked
    EXPECT_EQ(b.Info().remain, 0);
    EXPECT_EQ(b.Info().ready, 1);
    EXPECT_EQ(FloatBits(b.Info().progress), BITS_ONE);

    b.Steps(25);  // stays blocked
    EXPECT_EQ(b.Info().remain, 0);
    EXPECT_EQ(b.Info().ready, 1);
    EXPECT_EQ(FloatBits(b.Info().progress), BITS_ONE);

    int prod = 0;
    EXPECT_EQ(b.wb().Buy(200000, &prod), 3000);
    EXPECT_EQ(prod, 1);
    EXPECT_EQ(b.Info().remain, 0);  // buying does not touch the countdown
    EXPECT_EQ(b.Info().ready, 0);

    b.Steps(1);  // the blocked product becomes the waiting one
    EXPECT_EQ(b.Info().remain, -1);
    EXPECT_EQ(b.Info().ready, 1);

    b.Steps(1);
    EXPECT_EQ(b.Info().remain, 49);
    EXPECT_EQ(b.Info().ready, 1);
}

TEST(WorkbenchProduction, StartAndFinishLinesCarryTheirFrames) {
    OneBench b(1);
    LogCapture log(LOG_LEVEL_DBG);
    const std::string start = Line("DBG", "Workbench::Step",
                                   "Producing start, wbId(1), frame:" + std::to_string(GetCurrentFrame()) + ".\n");
    for (int i = 0; i < 49; ++i) {
        b.Steps(1);
        NextFrame();
    }
    b.Steps(1);  // the 50th step, in the 50th frame from the start
    const std::string finish = Line("DBG", "Workbench::HandleTime0",
                                    "Producing finish, wbId(1), prodId(1),  frame:" +
                                        std::to_string(GetCurrentFrame()) + ".\n");
    NextFrame();
    EXPECT_EQ(log.Take(), start + finish);
}

TEST(WorkbenchProduction, Type4WaitsForBothMaterials) {
    OneBench b(4);
    EXPECT_GT(b.wb().Sell(1, GetCurrentFrame(), 0.0f), 0);
    b.Steps(3);
    WorkbenchInfo info = b.Info();
    EXPECT_EQ(info.remain, -1);
    EXPECT_EQ(FloatBits(info.progress), FloatBits(-1.0f));
    EXPECT_EQ(info.haveMask, 2u);
    EXPECT_EQ(info.needMask, 6u);

    EXPECT_GT(b.wb().Sell(2, GetCurrentFrame(), 0.0f), 0);
    EXPECT_EQ(b.Info().haveMask, 6u);
    b.Steps(1);
    info = b.Info();
    EXPECT_EQ(info.haveMask, 0u);  // consumed by the start
    EXPECT_EQ(info.remain, 499);
    EXPECT_EQ(FloatBits(info.progress), FloatBits(1.0f / 500.0f));

    // Materials sold during production stay until the next start.
    EXPECT_GT(b.wb().Sell(2, GetCurrentFrame(), 0.0f), 0);
    b.Steps(498);
    EXPECT_EQ(b.Info().remain, 1);
    EXPECT_EQ(b.Info().haveMask, 4u);
    b.Steps(1);
    EXPECT_EQ(b.Info().ready, 1);
    EXPECT_EQ(b.Info().remain, -1);
    b.Steps(1);  // material 1 is missing: no second cycle
    EXPECT_EQ(b.Info().remain, -1);
    EXPECT_EQ(b.Info().haveMask, 4u);
}

TEST(WorkbenchProduction, Type9TakesEachProductOncePerFrame) {
    OneBench b(9);
    for (int frame = 0; frame < 2; ++frame) {
        SCOPED_TRACE(frame);
        for (int prod = 1; prod <= 7; ++prod) {
            EXPECT_EQ(b.wb().Sell(prod, GetCurrentFrame(), 0.0f), g_productArr[prod].sellPrice);
        }
        EXPECT_EQ(b.Info().haveMask, 0xFEu);
        LogCapture log;
        for (int prod = 1; prod <= 7; ++prod) EXPECT_EQ(b.wb().Sell(prod, GetCurrentFrame(), 0.0f), -1);
        std::string expected;
        for (int prod = 1; prod <= 7; ++prod) {
            expected += Line("INFO", "Workbench::Sell", "Product:" + std::to_string(prod) + " already exists.\n");
        }
        EXPECT_EQ(log.Take(), expected);
        b.Steps(1);
        EXPECT_EQ(b.Info().haveMask, 0u);
        EXPECT_EQ(b.Info().remain, -1);
        EXPECT_EQ(b.Info().ready, 0);
    }
}

TEST(WorkbenchProduction, Type8TakesOnlyProduct7) {
    OneBench b(8);
    LogCapture log;
    EXPECT_EQ(b.wb().Sell(6, GetCurrentFrame(), 0.0f), -1);
    EXPECT_EQ(b.wb().Sell(0, GetCurrentFrame(), 0.0f), -1);
    EXPECT_EQ(log.Take(), Line("INFO", "Workbench::Sell", "Can not sell product:6\n") +
                              Line("INFO", "Workbench::Sell", "Can not sell product:0\n"));
    EXPECT_EQ(b.wb().Sell(7, GetCurrentFrame(), 0.0f), 105000);
    EXPECT_EQ(b.Info().haveMask, 1u << 7);
    b.Steps(1);
    EXPECT_EQ(b.Info().haveMask, 0u);
}

// ---------------------------------------------------------------- trading

TEST(WorkbenchTrading, BuyRefusedWithoutFinishedProduct) {
    struct Row {
        const char* name;
        int type;
        int steps;
    };
    const Row rows[] = {
        {"type8", 8, 1},
        {"type9", 9, 1},
        {"type1 producing", 1, 10},
        {"type1 fresh", 1, 0},
        {"type4 idle", 4, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        OneBench b(row.type);
        b.wb().m_bReady = row.type >= 8;  // a flag alone sells nothing without a product
        b.Steps(row.steps);
        LogCapture log;
        int out = 55;
        EXPECT_EQ(b.wb().Buy(99999999, &out), -1);
        EXPECT_EQ(out, 55);
        EXPECT_EQ(log.Take(), Line("INFO", "Workbench::Buy", "product is not ready.\n"));
    }
}

TEST(WorkbenchTrading, BuyNeedsAtLeastThePrice) {
    for (int type = 1; type <= 7; ++type) {
        SCOPED_TRACE(type);
        const int price = g_productArr[type].buyPrice;
        OneBench b(type);
        b.wb().m_bReady = true;

        LogCapture refused;
        int out = 0;
        EXPECT_EQ(b.wb().Buy(price - 1, &out), -1);
        EXPECT_EQ(b.wb().Buy(-5, &out), -1);
        EXPECT_EQ(refused.Take(),
                  Line("INFO", "Workbench::Buy",
                       "Money is not enough: " + std::to_string(price - 1) + "  expect " + std::to_string(price) +
                           "\n") +
                      Line("INFO", "Workbench::Buy", "Money is not enough: -5  expect " + std::to_string(price) + "\n"));
        EXPECT_EQ(out, 0);
        EXPECT_TRUE(b.wb().m_bReady);

        LogCapture bought(LOG_LEVEL_DBG);
        EXPECT_EQ(b.wb().Buy(price, &out), price);
        EXPECT_EQ(bought.Take(), Line("DBG", "Workbench::Buy",
                                      "Buy success, wbId(" + std::to_string(type) + "), prodId(" +
                                          std::to_string(type) + ").\n"));
        EXPECT_EQ(out, type);
        EXPECT_FALSE(b.wb().m_bReady);
        EXPECT_EQ(b.Info().remain, -1);
    }
}

TEST(WorkbenchTrading, SecondSaleOfTheSameMaterialIsRefused) {
    OneBench b(5);
    LogCapture log(LOG_LEVEL_DBG);
    EXPECT_EQ(b.wb().Sell(3, GetCurrentFrame(), 0.0f), 9200);
    EXPECT_EQ(b.wb().Sell(3, GetCurrentFrame(), 0.0f), -1);
    EXPECT_EQ(b.wb().Sell(2, GetCurrentFrame(), 0.0f), -1);
    EXPECT_EQ(log.Take(), Line("DBG", "Workbench::Sell", "Sell success, wbId(5), prodId(3).\n") +
                              Line("INFO", "Workbench::Sell", "Product:3 already exists.\n") +
                              Line("INFO", "Workbench::Sell", "Can not sell product:2\n"));
    EXPECT_EQ(b.Info().haveMask, 1u << 3);
}

TEST(WorkbenchTrading, SaleValueFallsWithTimeAndImpact) {
    OneBench b(9);
    LogCapture log;
    EXPECT_EQ(b.wb().Sell(7, GetCurrentFrame() - 9000, 2000.0f), 67200);
    EXPECT_EQ(b.wb().Sell(4, GetCurrentFrame(), 0.0f), 22500);
    EXPECT_EQ(log.Take(), "");
}

// ---------------------------------------------------------------- value rates

TEST(WorkbenchRates, SpanIsFormedInSinglePrecision) {
    EXPECT_EQ(FloatBits(TIME_RATE_K), 0x3E4CCCCCu);
    EXPECT_EQ(FloatBits(IMPACT_RATE_K), 0x3E4CCCCCu);
    EXPECT_NE(FloatBits(TIME_RATE_K), FloatBits(0.2f));
    EXPECT_EQ(FloatBits(MIN_TIME_RATE), BITS_MIN_RATE);
    EXPECT_EQ(FloatBits(MIN_IMPACT_RATE), BITS_MIN_RATE);
}

// Both rates follow the same curve, so each row holds x for both.
TEST(WorkbenchRates, TimeAndImpactRates) {
    struct Row {
        const char* name;
        int held;
        float impact;
        uint32_t bits;
    };
    const Row rows[] = {
        {"x = 0", 0, 0.0f, BITS_ONE},
        {"x = 0.5", 4500, 1000.0f, BITS_HALF_RATE},
        {"x = 1", 9000, 2000.0f, BITS_MIN_RATE},
        {"beyond the reference", 12000, 1e9f, BITS_MIN_RATE},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LogCapture log;
        EXPECT_EQ(FloatBits(Workbench::GetProductTimeRate(GetCurrentFrame() - row.held)), row.bits);
        EXPECT_EQ(FloatBits(Workbench::GetProductImpactRate(row.impact)), row.bits);
        EXPECT_EQ(log.Take(), "");
    }
    EXPECT_EQ(BITS_HALF_RATE, FloatBits(0.8267949f));
}

TEST(WorkbenchRates, TimeRateCountsToTheCurrentFrame) {
    const int buyFrame = GetCurrentFrame();
    EXPECT_EQ(FloatBits(Workbench::GetProductTimeRate(buyFrame)), BITS_ONE);
    for (int i = 0; i < 4500; ++i) NextFrame();
    EXPECT_EQ(FloatBits(Workbench::GetProductTimeRate(buyFrame)), BITS_HALF_RATE);
}

TEST(WorkbenchRates, ValueRateAndNowValue) {
    const int now = GetCurrentFrame();
    EXPECT_EQ(FloatBits(Workbench::GetProductValueRate(now, 0.0f)), BITS_ONE);
    EXPECT_EQ(FloatBits(Workbench::GetProductValueRate(now - 9000, 2000.0f)), BITS_MIN_VALUE_RATE);
    EXPECT_EQ(FloatBits(Workbench::GetProductValueRate(now - 4500, 1000.0f)),
              FloatBits(BitsFloat(BITS_HALF_RATE) * BitsFloat(BITS_HALF_RATE)));

    struct Row {
        const char* name;
        int prodId;
        int held;
        float impact;
        int value;
    };
    const Row rows[] = {
        {"p1 fresh", 1, 0, 0.0f, 6000},
        {"p2 fresh", 2, 0, 0.0f, 7600},
        {"p3 fresh", 3, 0, 0.0f, 9200},
        {"p4 fresh", 4, 0, 0.0f, 22500},
        {"p5 fresh", 5, 0, 0.0f, 25000},
        {"p6 fresh", 6, 0, 0.0f, 27500},
        {"p7 fresh", 7, 0, 0.0f, 105000},
        {"p7 worn out", 7, 9000, 2000.0f, 67200},  // 105000 * 0.64000005, truncated
        {"p7 long and hard", 7, 11000, 4000.0f, 67200},
        {"p1 worn out", 1, 9000, 2000.0f, 3840},
        {"p7 half time", 7, 4500, 0.0f, 86813},  // 105000 * 0.8267949
        {"p2 half time", 2, 4500, 0.0f, 6283},   // 6283.6416, truncated
        {"p7 half both", 7, 4500, 1000.0f, 71776},  // 71776.93, truncated
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Workbench::GetProductNowVal(row.prodId, GetCurrentFrame() - row.held, row.impact), row.value);
    }
}

TEST(WorkbenchRates, ProductOutsideTheTableIsWorthNothing) {
    struct Row {
        const char* name;
        int prodId;
        const char* expr;
    };
    const Row rows[] = {
        {"zero", 0, "prodId > 0"},
        {"negative", -2, "prodId > 0"},
        {"past the table", 8, "prodId < sizeof(g_productArr) / sizeof(g_productArr[0])"},
        {"far past", 1000, "prodId < sizeof(g_productArr) / sizeof(g_productArr[0])"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LogCapture log;
        EXPECT_EQ(Workbench::GetProductNowVal(row.prodId, GetCurrentFrame(), 0.0f), 0);
        EXPECT_EQ(log.Take(), AssertLine("Workbench::GetProductNowVal", row.expr));
    }
}

TEST(WorkbenchRates, ImpossibleInputsAreReportedInOrder) {
    // A purchase in the future counts as just bought; a negative impulse has
    // no rate, and a sale with it pays nothing.
    LogCapture log;
    EXPECT_EQ(FloatBits(Workbench::GetProductTimeRate(GetCurrentFrame() + 10)), BITS_ONE);
    const float rate = Workbench::GetProductValueRate(GetCurrentFrame() + 1, -5.0f);
    EXPECT_EQ(Workbench::GetProductNowVal(3, GetCurrentFrame(), -1.0f), 0);
    EXPECT_EQ(Workbench::GetProductNowVal(3, GetCurrentFrame() - 5, -1.0f), 0);
    EXPECT_TRUE(rate != rate);
    const std::string timeLine = AssertLine("Workbench::GetProductTimeRate", "usedTime >= 0");
    const std::string impactLine =
        AssertLine("Workbench::GetProductImpactRate", "impactRate >= MIN_IMPACT_RATE && impactRate <= 1");
    EXPECT_EQ(log.Take(), timeLine + timeLine + impactLine + impactLine + impactLine);
}

// ---------------------------------------------------------------- search

TEST(WorkbenchSearch, EmptyList) {
    WorkbenchList list;
    EXPECT_EQ(list.Size(), 0);
    EXPECT_EQ(list.FindNear(b2Vec2(1.0f, 1.0f)), nullptr);
    EXPECT_EQ(list.FindNearIdx(b2Vec2(1.0f, 1.0f)), -1);
    EXPECT_TRUE(list.CollectInfo().empty());
    list.Step();
}

TEST(WorkbenchSearch, NearestStrictlyInsideWithTiesToTheEarlier) {
    // Centres on the map's cell grid; offsets of 0.25 and 0.3 are exact enough
    // that mirrored positions tie to the bit.
    WorkbenchList list;
    list.Add(Workbench(1, b2Vec2(10.25f, 20.75f)));  // 0
    list.Add(Workbench(2, b2Vec2(10.75f, 20.75f)));  // 1
    list.Add(Workbench(3, b2Vec2(30.25f, 5.25f)));   // 2
    list.Add(Workbench(4, b2Vec2(30.75f, 5.25f)));   // 3
    list.Add(Workbench(5, b2Vec2(30.5f, 5.75f)));    // 4, later and nearer than 2 and 3

    // Exactly on the boundary and one step inside it, from workbench 0.
    const b2Vec2 onBoundary(BitsFloat(0x4127D6C8), BitsFloat(0x41A88F75));
    const b2Vec2 inside(BitsFloat(0x4127D6C8), BitsFloat(0x41A88F74));
    const auto squaredDist = [](b2Vec2 p) {
        const float dx = p.x - 10.25f;
        const float dy = p.y - 20.75f;
        return dx * dx + dy * dy;
    };
    ASSERT_EQ(FloatBits(squaredDist(onBoundary)), FloatBits(0.16f));
    ASSERT_LT(squaredDist(inside), 0.16f);

    struct Row {
        const char* name;
        b2Vec2 pos;
        int idx;
    };
    const Row rows[] = {
        {"on a centre", b2Vec2(10.75f, 20.75f), 1},
        {"tie between 0 and 1", b2Vec2(10.5f, 20.75f), 0},
        {"nearer to 1", b2Vec2(10.55f, 20.75f), 1},
        {"squared distance 0.16f exactly", onBoundary, -1},
        {"just inside", inside, 0},
        {"0.45 m straight", b2Vec2(10.25f, 20.3f), -1},
        {"far away", b2Vec2(25.0f, 25.0f), -1},
        {"tie between 2 and 3, 4 nearer", b2Vec2(30.5f, 5.5f), 4},
        {"tie between 2 and 3", b2Vec2(30.5f, 5.25f), 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(list.FindNearIdx(row.pos), row.idx);
        Workbench* near = list.FindNear(row.pos);
        if (row.idx < 0) {
            EXPECT_EQ(near, nullptr);
        } else {
            EXPECT_EQ(near, &list.At(row.idx));
        }
    }
}

TEST(WorkbenchSearch, StepAndInfoFollowListOrder) {
    WorkbenchList list;
    const int types[] = {3, 9, 1, 6};
    for (int i = 0; i < 4; ++i) list.Add(Workbench(types[i], b2Vec2(0.5f * i + 0.25f, 49.75f)));
    ASSERT_EQ(list.Size(), 4);
    list.Step();
    const std::vector<WorkbenchInfo> infos = list.CollectInfo();
    ASSERT_EQ(infos.size(), 4u);
    const int remains[] = {49, -1, 49, -1};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(infos[i].type, types[i]);
        EXPECT_EQ(FloatBits(infos[i].x), FloatBits(0.5f * i + 0.25f));
        EXPECT_EQ(infos[i].remain, remains[i]);
    }
}

}  // namespace
