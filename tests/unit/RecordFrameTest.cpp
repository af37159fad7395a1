// ctest-labels: threads
// The recording step in the test's own process: the display snapshot it
// publishes, how snapshots are recycled through the display's slot, and the
// replay frames it appends.  The players' robots start the lidar workers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Display.h"
#include "Game.h"
#include "ReplayTestSupport.h"
#include "RobotTestSupport.h"
#include "ShadowImage.h"

namespace {

const std::string MAP_PATH = std::string(SOURCE_DIR) + "/tests/maps/replay_bands.txt";

std::atomic<DisplayFrame*>& Slot() { return Display::GetInstance()->PendingFrame(); }

void ExpectSnapshotOfTheGame(const DisplayFrame& snapshot, int frame) {
    Game* game = Game::GetInstance();
    EXPECT_EQ(snapshot.m_iSecondsLeft, (12000 - frame) / 50);
    for (int p = 0; p < 2; ++p) {
        Player& player = game->GetPlayer(p);
        EXPECT_EQ(snapshot.m_money[p], player.GetMoney());
        for (int id = 0; id < 4; ++id) {
            const Robot& robot = player.GetRobot(id);
            const RobotView& view = snapshot.m_robots[p * 4 + id];
            EXPECT_EQ(view.x, robot.m_pBody->GetPosition().x);
            EXPECT_EQ(view.y, robot.m_pBody->GetPosition().y);
            EXPECT_EQ(view.angle, robot.m_pBody->GetAngle());
            EXPECT_EQ(view.product, robot.m_iProduct);
            EXPECT_EQ(view.valueRate, robot.GetValueRate());
            EXPECT_EQ(view.radar, robot.m_radar) << "player " << p << " robot " << id;
        }
        uint8_t seen[100][100];
        player.GetExploredCells().CopyTo(seen);
        EXPECT_EQ(memcmp(seen, snapshot.m_seen[p], sizeof seen), 0) << "player " << p;
        const std::vector<WorkbenchInfo> infos = player.GetWorkbenches().CollectInfo();
        ASSERT_EQ(snapshot.m_workbenches[p].size(), infos.size());
        for (size_t i = 0; i < infos.size(); ++i) {
            const WorkbenchInfo& got = snapshot.m_workbenches[p][i];
            EXPECT_EQ(got.x, infos[i].x);
            EXPECT_EQ(got.y, infos[i].y);
            EXPECT_EQ(got.type, infos[i].type);
            EXPECT_EQ(got.remain, infos[i].remain);
            EXPECT_EQ(got.needMask, infos[i].needMask);
            EXPECT_EQ(got.haveMask, infos[i].haveMask);
            EXPECT_EQ(got.ready, infos[i].ready);
            EXPECT_EQ(got.progress, infos[i].progress);
        }
    }
}

int SeenCount(const DisplayFrame& snapshot, int p) {
    int n = 0;
    for (int r = 0; r < 100; ++r)
        for (int c = 0; c < 100; ++c) n += snapshot.m_seen[p][r][c] != 0;
    return n;
}

}  // namespace

TEST(RecordFrame, SnapshotsAreRecycledAndFramesAppended) {
    Game* game = Game::GetInstance();
    ASSERT_TRUE(game->Init(MAP_PATH));
    game->GetPlayer(0).Init(0);
    game->GetPlayer(1).Init(1);

    // Before any image exists the recording says so, and the frame has none.
    {
        LogCapture log(LOG_LEVEL_ASSERT);
        game->RecordFrame();
        EXPECT_EQ(log.Take(),
                  ExpectedLogLine("ASSERT", "Robot/Game.cpp", "Game::RecordFrame", "assert \"g_PNGDataLen\" failed\n"));
    }
    DisplayFrame* const a = Slot().load();
    ASSERT_NE(a, nullptr);
    ExpectSnapshotOfTheGame(*a, 1);
    EXPECT_EQ(a->m_iSecondsLeft, 239);
    EXPECT_EQ(SeenCount(*a, 0), 0);

    // One lidar pass explores cells and asks for an image.
    Robot::StartRadarTasks();
    Robot::WaitRadarTasks();
    ASSERT_TRUE(game->IsShadowChanged());
    game->GenerateShadowPng();
    {
        LogCapture log(LOG_LEVEL_ASSERT);
        game->RecordFrame();
        EXPECT_EQ(log.Take(), "");
    }
    // The first snapshot was never taken: it comes back as the spare.
    DisplayFrame* const b = Slot().load();
    ASSERT_NE(b, nullptr);
    EXPECT_NE(b, a);
    ExpectSnapshotOfTheGame(*b, 1);
    EXPECT_EQ(b->m_robots[0].radar.size(), 360u);
    EXPECT_GT(SeenCount(*b, 0), 0);
    EXPECT_GT(SeenCount(*b, 1), 0);
    const float* const storageOfB = b->m_robots[5].radar.data();

    // Untaken snapshots alternate and are refilled in place.
    game->RecordFrame();
    EXPECT_EQ(Slot().load(), a);
    ExpectSnapshotOfTheGame(*a, 1);
    game->RecordFrame();
    EXPECT_EQ(Slot().load(), b);
    EXPECT_EQ(b->m_robots[5].radar.data(), storageOfB);

    // The window takes one: the other is the spare, then a new one is made.
    DisplayFrame* taken = Slot().exchange(nullptr);
    EXPECT_EQ(taken, b);
    delete taken;
    game->RecordFrame();
    EXPECT_EQ(Slot().load(), a);
    game->RecordFrame();
    DisplayFrame* const c = Slot().load();
    EXPECT_NE(c, a);
    ExpectSnapshotOfTheGame(*c, 1);

    // Six frames appended, each with its length.
    const replay_protocol::Rep& rep = game->GetRep();
    ASSERT_EQ(rep.length_of_frames_size(), 6);
    std::string all = game->GetFrameRepData();
    size_t pos = 0;
    for (int i = 0; i < 6; ++i) {
        replay_protocol::Frame frame;
        ASSERT_LE(pos + rep.length_of_frames(i), all.size());
        ASSERT_TRUE(frame.ParseFromString(all.substr(pos, rep.length_of_frames(i)))) << i;
        pos += rep.length_of_frames(i);
        EXPECT_EQ(frame.frame_id(), 1);
        ASSERT_EQ(frame.players_size(), 2);
        EXPECT_EQ(frame.players(0).money(), 200000);
        // Nobody has answered frame 1 yet.
        EXPECT_EQ(frame.players(0).skipped_frames(), 1);
        EXPECT_EQ(frame.players(1).skipped_frames(), 1);
        EXPECT_EQ(frame.players(1).robots_size(), 4);
        EXPECT_EQ(frame.workbench_frame(), std::string(9, static_cast<char>(0xF0)));  // not stepped: all idle
        // The new-cells flag stays set from the lidar pass on.
        EXPECT_EQ(frame.shadow_png().empty(), i == 0) << i;
        EXPECT_TRUE(frame.SerializeAsString() == all.substr(pos - rep.length_of_frames(i), rep.length_of_frames(i)));
    }
    EXPECT_EQ(pos, all.size());

    // An image handed to the encoder's thread: its frame waits for it, then
    // carries the bytes that encoding the same cells here gives.
    const std::string before = std::string(reinterpret_cast<const char*>(g_PNGData), g_PNGDataLen);
    game->GetPlayer(0).GetRobot(0).m_pBody->SetTransform(b2Vec2(25.25f, 25.25f), 0.0f);  // below the wall: new cells
    Robot::StartRadarTasks();
    Robot::WaitRadarTasks();
    game->SubmitShadowPng();
    game->RecordFrame();
    game->GenerateShadowPng();
    const std::string image = std::string(reinterpret_cast<const char*>(g_PNGData), g_PNGDataLen);
    ASSERT_NE(image, before);
    game->RecordFrame();  // appends both
    ASSERT_EQ(rep.length_of_frames_size(), 8);
    all = game->GetFrameRepData();
    for (int i = 6; i < 8; ++i) {
        replay_protocol::Frame frame;
        ASSERT_TRUE(frame.ParseFromString(all.substr(pos, rep.length_of_frames(i)))) << i;
        pos += rep.length_of_frames(i);
        EXPECT_TRUE(frame.shadow_png() == image) << i;
    }
    EXPECT_EQ(pos, all.size());

    // The clock of the snapshot: one second left at frame 11950, none at 11951.
    while (game->GetWorld().GetFrame() < 11950) game->GetWorld().Step();
    game->RecordFrame();
    EXPECT_EQ(Slot().load()->m_iSecondsLeft, 1);
    game->GetWorld().Step();
    game->RecordFrame();
    EXPECT_EQ(Slot().load()->m_iSecondsLeft, 0);
}
