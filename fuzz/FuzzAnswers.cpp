// Fuzz target: a player's answer parser (Player::HandleRead) fed its
// program's output in arbitrary chunks while the protocol status moves
// through "started" (0), "ready" (1) and "frame message sent" (2).
//
// Input: a run of chunks.  Each chunk is a header byte and then up to 127
// bytes of output (fewer at the end of the input): the low seven bits of the
// header are the length, bit 7 holds back the next frame message.  After a
// chunk that leaves the player ready, the frame message is built and taken
// as sent (status 2, as Player::WriteData does) unless bit 7 was set, so
// that answers also arrive while none is awaited.
//
// The match is the one the referee would play on fuzz/maps/trade.txt, set up
// once per process, so that "buy", "sell" and "destroy" reach the trading
// code: player 0's robot 0 stands at a workbench with a product ready (which
// takes nothing back), robots 1 and 2 carry products that the workbenches
// they stand at take, robot 3 stands at none.  Each input starts from that
// state again: statuses, money, buffers, targets, products, workbenches.
//
// Threads: libFuzzer runs every input on its one thread, which plays the
// game thread here; the lidar workers started with player 0's robots wait
// for tasks that never come.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "Game.h"
#include "Log.h"
#include "Player.h"
#include "PlayerFixture.h"

namespace {

constexpr uint8_t CHUNK_LEN_MASK = 0x7F;
constexpr uint8_t HOLD_FRAME_BIT = 0x80;
// Workbench steps before the snapshot: enough for every type 1 to 3
// workbench to finish its first product.
constexpr int WARM_UP_STEPS = 1000;

// What every input starts from, taken once after the set-up.
struct Baseline {
    WorkbenchList workbenches[PLAYER_NUMS];
    int32_t products[PLAYER_NUMS][PLAYER_ROBOT_NUMS] = {};
};

void Die(const char* what) {
    fprintf(stderr, "fuzz_answers set-up: %s\n", what);
    abort();
}

// HandleRead is protected; a pointer to it formed inside a derived class may
// be called on any Player.  The chunk then arrives in a heap block of exactly
// its size, where a read past its end is a sanitizer report.
struct ReadAccess : Player {
    static constexpr auto HANDLE_READ = &ReadAccess::HandleRead;
};

void DeliverChunk(Player& player, const uint8_t* bytes, size_t len) {
    std::unique_ptr<char[]> chunk(new char[len]);
    if (len != 0) memcpy(chunk.get(), bytes, len);
    (player.*ReadAccess::HANDLE_READ)(chunk.get(), static_cast<uint32_t>(len));
}

// What Player::WriteData does for a ready player, but for the write to a
// program that is not there.
void SendFrameMessage(Player& player) {
    player.BuildFrameMessage();
    PlayerTestPeer::SetStatus(player, PLAYER_STATUS_FRAME_SENT);
}

// Puts the robot, at rest, on the centre of the workbench.
void PlaceOnWorkbench(Robot& robot, const Workbench& workbench) {
    robot.m_pBody->SetTransform(workbench.m_pos, 0.0f);
    robot.m_pBody->SetLinearVelocity(b2Vec2(0.0f, 0.0f));
    robot.m_pBody->SetAngularVelocity(0.0f);
}

Baseline SetUpMatch() {
    Game* game = Game::GetInstance();
    if (!game->Init(FUZZ_MAP_DIR "/trade.txt")) Die("the map does not load");
    for (int i = 0; i < PLAYER_NUMS; ++i) game->GetPlayer(i).Init(static_cast<uint32_t>(i));

    Player& player = game->GetPlayer(0);
    WorkbenchList& workbenches = player.GetWorkbenches();
    if (workbenches.Size() < 3 || workbenches.At(0).m_id != 1 || workbenches.At(1).m_id != 4 ||
        workbenches.At(2).m_id != 7) {
        Die("player 0 needs the workbenches 1, 4 and 7, in this order");
    }
    for (int step = 0; step < WARM_UP_STEPS; ++step) workbenches.Step();
    for (int id = 0; id < 3; ++id) PlaceOnWorkbench(player.GetRobot(id), workbenches.At(id));
    if (!workbenches.At(0).m_bReady) Die("workbench 1 has no product after the warm-up");
    player.GetRobot(1).AddProduct(1);  // workbench 4 takes 1 and 2
    player.GetRobot(2).AddProduct(4);  // workbench 7 takes 4, 5 and 6

    Baseline baseline;
    for (int i = 0; i < PLAYER_NUMS; ++i) {
        baseline.workbenches[i] = game->GetPlayer(i).GetWorkbenches();
        for (int id = 0; id < PLAYER_ROBOT_NUMS; ++id) {
            baseline.products[i][id] = game->GetPlayer(i).GetRobot(id).m_iProduct;
        }
    }
    return baseline;
}

void RestoreProduct(Robot& robot, int32_t product) {
    if (robot.m_iProduct == product) return;
    if (robot.m_iProduct != 0) robot.DelProduct();
    if (product != 0) robot.AddProduct(product);
}

void RestoreMatch(const Baseline& baseline) {
    for (int i = 0; i < PLAYER_NUMS; ++i) {
        Player& player = Game::GetInstance()->GetPlayer(i);
        PlayerTestPeer::Reset(player);
        player.GetWorkbenches() = baseline.workbenches[i];
        for (int id = 0; id < PLAYER_ROBOT_NUMS; ++id) RestoreProduct(player.GetRobot(id), baseline.products[i][id]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Baseline s_baseline = SetUpMatch();
    RestoreMatch(s_baseline);

    Player& player = Game::GetInstance()->GetPlayer(0);
    size_t pos = 0;
    while (pos < size) {
        const uint8_t header = data[pos++];
        const size_t len = std::min<size_t>(header & CHUNK_LEN_MASK, size - pos);
        DeliverChunk(player, data + pos, len);
        pos += len;
        if (player.GetStatus() == PLAYER_STATUS_READY && (header & HOLD_FRAME_BIT) == 0) SendFrameMessage(player);
    }
    return 0;
}
