// The PipeWire layer's device lists: the order and names the same system
// shows through its PulseAudio protocol server.
#include <gtest/gtest.h>

#include "audio/pipewire/pw_devices.h"

namespace morvane {
namespace {

PwNode Node(uint32_t id, uint64_t serial, const char* name, const char* description, const char* mediaClass) {
    return PwNode{id, serial, name, description, mediaClass};
}

std::vector<std::string> Names(const std::vector<PwDevice>& list) {
    std::vector<std::string> out;
    for (const PwDevice& d : list) out.push_back(d.description);
    return out;
}

// Registry order differs from serial order; streams and other nodes are not devices.
const std::vector<PwNode> kGraph = {
    Node(60, 68, "tv", "TV", "Audio/Sink"),
    Node(38, 39, "bus", "Bus", "Audio/Sink"),
    Node(45, 50, "mic", "Microphone", "Audio/Source"),
    Node(48, 55, "output.radio", "output.radio", "Stream/Output/Audio"),
    Node(49, 56, "radio", "Radio", "Audio/Sink"),
    Node(80, 90, "headset", "Headset", "Audio/Duplex"),
    Node(81, 91, "line", "Line", "Audio/Source/Virtual"),
};

TEST(PwDevices, SourcesAndSinksMonitorsInterleaveBySerial) {
    EXPECT_EQ(Names(PwCaptureDevices(kGraph)),
              (std::vector<std::string>{"Monitor of Bus", "Microphone", "Monitor of Radio", "Monitor of TV",
                                        "Headset", "Line"}));
    EXPECT_EQ(Names(PwPlaybackDevices(kGraph)), (std::vector<std::string>{"Bus", "Radio", "TV", "Headset"}));
    const std::vector<PwDevice> capture = PwCaptureDevices(kGraph);
    EXPECT_TRUE(capture[2].monitor);
    EXPECT_EQ(capture[2].target, "radio");
    EXPECT_FALSE(capture[1].monitor);
}

TEST(PwDevices, TheDefaultSourceMayBeASinksMonitor) {
    const std::vector<PwDevice> capture = PwCaptureDevices(kGraph);
    EXPECT_EQ(PwFindDefault(capture, "radio", true, kGraph), 2u);
    EXPECT_EQ(PwFindDefault(capture, "mic", true, kGraph), 1u);
    EXPECT_EQ(PwFindDefault(PwPlaybackDevices(kGraph), "tv", false, kGraph), 2u);
    EXPECT_FALSE(PwFindDefault(capture, "gone", true, kGraph));
    EXPECT_FALSE(PwFindDefault(capture, "", true, kGraph));
}

TEST(PwDevices, DefaultNamesAsTheServerWritesThem) {
    EXPECT_EQ(PwDefaultName("{\"name\":\"tv\"}"), "tv");
    EXPECT_EQ(PwDefaultName("{ \"name\": \"alsa_output.usb-\\\"x\\\"\" }"), "alsa_output.usb-\"x\"");
    EXPECT_EQ(PwDefaultName("{ \"name\": \"cut"), "");
    EXPECT_EQ(PwDefaultName("{}"), "");
    EXPECT_EQ(PwDefaultName(nullptr), "");
}

}  // namespace
}  // namespace morvane
