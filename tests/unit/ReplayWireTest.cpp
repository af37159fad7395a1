// Replay messages on the wire, and the workbench bytes of a replay frame
// computed from real workbench states.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Game.h"
#include "Replay.pb.h"
#include "Workbench.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

void SetRobot(replay_protocol::Robot* robot, float x, float y, float radian, int carry, float valueRate) {
    robot->mutable_pos()->set_x(x);
    robot->mutable_pos()->set_y(y);
    robot->set_radian(radian);
    robot->set_carry_id(carry);
    robot->set_value_rate(valueRate);
}

struct WireCase {
    const char* name;
    std::function<std::string()> serialise;
    std::string expected;
};

}  // namespace

TEST(ReplayWire, MessagesGiveTheFixedBytes) {
    const WireCase cases[] = {
        {"robot carrying product 4",
         [] {
             replay_protocol::Robot r;
             SetRobot(&r, 1.25f, 48.75f, -1.5f, 4, 0.75f);
             return r.SerializeAsString();
         },
         Bytes({0x0A, 0x0A, 0x0D, 0x00, 0x00, 0xA0, 0x3F, 0x15, 0x00, 0x00, 0x43, 0x42, 0x15, 0x00, 0x00, 0xC0,
                0xBF, 0x18, 0x04, 0x25, 0x00, 0x00, 0x40, 0x3F})},
        {"robot at heading 0 carrying nothing",
         [] {
             replay_protocol::Robot r;
             SetRobot(&r, 1.25f, 48.75f, 0.0f, 0, 0.0f);
             return r.SerializeAsString();
         },
         Bytes({0x0A, 0x0A, 0x0D, 0x00, 0x00, 0xA0, 0x3F, 0x15, 0x00, 0x00, 0x43, 0x42})},
        {"robot at heading -0.0 keeps its radian",
         [] {
             replay_protocol::Robot r;
             SetRobot(&r, 0.0f, 0.0f, -0.0f, 0, 0.0f);
             return r.SerializeAsString();
         },
         Bytes({0x0A, 0x00, 0x15, 0x00, 0x00, 0x00, 0x80})},
        {"workbench of the second player",
         [] {
             replay_protocol::Workbench w;
             w.mutable_pos()->set_x(24.75f);
             w.mutable_pos()->set_y(0.25f);
             w.set_product_id(4);
             w.set_material_bits(6);
             w.set_owner(1);
             return w.SerializeAsString();
         },
         Bytes({0x0A, 0x0A, 0x0D, 0x00, 0x00, 0xC6, 0x41, 0x15, 0x00, 0x00, 0x80, 0x3E, 0x10, 0x04, 0x18, 0x06,
                0x20, 0x01})},
        {"workbench of the first player has no owner",
         [] {
             replay_protocol::Workbench w;
             w.mutable_pos()->set_x(24.75f);
             w.mutable_pos()->set_y(0.25f);
             w.set_product_id(4);
             w.set_material_bits(6);
             w.set_owner(0);
             return w.SerializeAsString();
         },
         Bytes({0x0A, 0x0A, 0x0D, 0x00, 0x00, 0xC6, 0x41, 0x15, 0x00, 0x00, 0x80, 0x3E, 0x10, 0x04, 0x18, 0x06})},
        {"player with no money and no skipped frames",
         [] {
             replay_protocol::Player p;
             p.set_money(0);
             p.set_skipped_frames(0);
             return p.SerializeAsString();
         },
         ""},
        {"negative money takes ten bytes",
         [] {
             replay_protocol::Player p;
             p.set_money(-1);
             p.set_skipped_frames(2);
             return p.SerializeAsString();
         },
         Bytes({0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x18, 0x02})},
        {"frame without workbenches or image",
         [] {
             replay_protocol::Frame f;
             f.set_frame_id(16);
             f.set_workbench_frame("");
             f.set_shadow_png("");
             return f.SerializeAsString();
         },
         Bytes({0x08, 0x10})},
        {"frame with workbench bytes and image",
         [] {
             replay_protocol::Frame f;
             f.set_frame_id(1);
             f.set_workbench_frame(Bytes({0x74, 0xE1}));
             f.set_shadow_png(Bytes({0x89, 0x50}));
             return f.SerializeAsString();
         },
         Bytes({0x08, 0x01, 0x1A, 0x02, 0x74, 0xE1, 0x22, 0x02, 0x89, 0x50})},
        {"header without frames has no length_of_frames at all",
         [] {
             replay_protocol::Rep rep;
             rep.add_player_names("a");
             rep.set_map_height(50.0f);
             rep.set_map_width(50.0f);
             rep.set_num_of_players(2);
             return rep.SerializeAsString();
         },
         Bytes({0x15, 0x00, 0x00, 0x48, 0x42, 0x1D, 0x00, 0x00, 0x48, 0x42, 0x20, 0x02, 0x2A, 0x01, 'a'})},
        {"frame lengths are packed",
         [] {
             replay_protocol::Rep rep;
             rep.add_length_of_frames(5);
             rep.add_length_of_frames(300);
             return rep.SerializeAsString();
         },
         Bytes({0x3A, 0x03, 0x05, 0xAC, 0x02})},
    };
    for (const WireCase& c : cases) {
        EXPECT_EQ(Hex(c.serialise()), Hex(c.expected)) << c.name;
    }
}

// ------------------------------------------------------------ workbench bytes

namespace {

// Sells a material into a workbench on the current frame, without impact.
void SellInto(Workbench& wb, int prodId) {
    ASSERT_GT(wb.Sell(prodId, GetCurrentFrame(), 0.0f), 0) << "product " << prodId;
}

void StepTimes(Workbench& wb, int steps) {
    for (int i = 0; i < steps; ++i) wb.Step();
}

struct ByteCase {
    const char* name;
    int type;
    std::function<void(Workbench&)> prepare;
    uint8_t expected;
};

}  // namespace

TEST(ReplayWorkbenchByte, FromRealWorkbenchStates) {
    const ByteCase cases[] = {
        {"type 4 half way with material 2 sold in after the start", 4,
         [](Workbench& wb) {
             SellInto(wb, 1);
             SellInto(wb, 2);
             StepTimes(wb, 250);  // starts, consuming both; 250 of 500 frames left
             SellInto(wb, 2);
         },
         0x74},
        {"blocked type 1 with its product waiting", 1, [](Workbench& wb) { StepTimes(wb, 100); }, 0xE1},
        {"type 1 on its first frame of work", 1, [](Workbench& wb) { StepTimes(wb, 1); }, 0x00},
        {"type 1 one frame before its product", 1, [](Workbench& wb) { StepTimes(wb, 49); }, 0xD0},
        {"type 1 with its product ready, next cycle started", 1, [](Workbench& wb) { StepTimes(wb, 51); }, 0x01},
        {"idle type 4", 4, [](Workbench&) {}, 0xF0},
        {"idle type 4 holding material 1", 4, [](Workbench& wb) { SellInto(wb, 1); }, 0xF2},
        {"idle type 7 holding materials 4 and 6", 7,
         [](Workbench& wb) {
             SellInto(wb, 4);
             SellInto(wb, 6);
         },
         0xFA},
        {"type 8 holding material 7", 8, [](Workbench& wb) { SellInto(wb, 7); }, 0xF2},
        {"type 9 holding every product keeps bits 1 to 3 clear", 9,
         [](Workbench& wb) {
             for (int p = 1; p <= 7; ++p) SellInto(wb, p);
         },
         0xF0},
    };
    for (const ByteCase& c : cases) {
        WorkbenchList list;
        list.Add(Workbench(c.type, b2Vec2(10.25f, 20.75f)));
        c.prepare(list.At(0));
        const std::vector<WorkbenchInfo> infos = list.CollectInfo();
        ASSERT_EQ(infos.size(), 1u) << c.name;
        EXPECT_EQ(static_cast<int>(WorkbenchFrameByte(infos[0])), static_cast<int>(c.expected)) << c.name;
    }
}

TEST(ReplayWorkbenchByteDeathTest, ProgressBeyondTheNibbleIsFatal) {
    WorkbenchInfo info{};
    info.type = 1;
    info.progress = 1.2f;  // 16.8 after scaling
    EXPECT_DEATH(WorkbenchFrameByte(info), "rate < 16");
}
