#include "platform/linux/haptics/EvdevHaptics.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tavrine {
namespace {

namespace fs = std::filesystem;

class EvdevHapticsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("tavrine-haptics-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    void file(const std::string& name, const std::string& content = "x") {
        std::ofstream(dir / name) << content;
    }
    fs::path dir;
};

TEST_F(EvdevHapticsTest, MachineWithoutInputDevicesDoesNothing) {
    EvdevHaptics haptics((dir / "missing").string());
    haptics.pulse();
    haptics.pulse();
    EXPECT_TRUE(haptics.devicePath().empty());
}

TEST_F(EvdevHapticsTest, NodesWithoutForceFeedbackAreSkipped) {
    // Event nodes that are not devices (or lack force feedback) answer the capability query with an error.
    file("event0");
    file("event1");
    file("mouse0");
    fs::create_directory(dir / "by-id");
    EvdevHaptics haptics(dir.string());
    haptics.pulse();
    EXPECT_TRUE(haptics.devicePath().empty());
    // The files are still there and unchanged: nothing was written to them.
    std::ifstream in(dir / "event0");
    std::string content;
    in >> content;
    EXPECT_EQ(content, "x");
}

TEST_F(EvdevHapticsTest, UnreadableNodesAreSkipped) {
    file("event3");
    fs::permissions(dir / "event3", fs::perms::none);
    EvdevHaptics haptics(dir.string());
    haptics.pulse();
    EXPECT_TRUE(haptics.devicePath().empty());
}

} // namespace
} // namespace tavrine
