// The capture graph built on the first Play, and the crossbar routing on
// each of its devices, against fake DirectShow devices.

#include "tuner_rig.h"

#include <gtest/gtest.h>

#include "tuner/dshow/crossbar_route.h"

namespace morvane {
namespace {

using fake::Log;

const Entries kGraphStart = {"make graph", "make builder", "builder on graph", "make enumerator", "enumerate capture"};

Entries Then(Entries first, const Entries& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

TEST(TunerGraph, WithoutCaptureDevicesNothingIsAddedAndLaterPlaysMakeNoCall) {
    struct Case {
        const char* what;
        HRESULT result;
        bool withoutEnumerator;
    } cases[] = {
        {"an empty category", S_FALSE, false},
        {"a failing enumeration", E_FAIL, false},
        {"success without an enumerator", S_OK, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CTunerRig rig;
        rig.system.enumerator.capture.result = c.result;
        rig.system.enumerator.capture.withoutEnumerator = c.withoutEnumerator;
        rig.Click(IDC_PLAY);
        EXPECT_EQ(Log(), kGraphStart);
        EXPECT_TRUE(rig.Engine().GraphBuilt());
        EXPECT_TRUE(rig.Engine().IsPlaying());
        rig.system.ExpectReferencesReleased();

        Log().clear();
        rig.Click(IDC_STOP);
        rig.Click(IDC_PLAY);
        EXPECT_TRUE(rig.Engine().IsPlaying());
        EXPECT_EQ(Log(), Entries{});
    }
}

TEST(TunerGraph, EveryCaptureDeviceIsAddedAsCaptureAndRoutedInTurn) {
    CTunerRig rig;
    auto& first = rig.system.AddCaptureDevice("cam0");
    auto& second = rig.system.AddCaptureDevice("cam1");
    // Routing fails on the first; the second is tried all the same.
    rig.system.AddCrossbar("xbar0", first.filter->AsFilter(), true).routeResult = E_FAIL;
    rig.system.AddCrossbar("xbar1", second.filter->AsFilter(), true);
    // The graph's answer for a second filter of the same name.
    rig.system.graph.addResults[second.filter->AsFilter()] = VFW_S_DUPLICATE_NAME;

    rig.Click(IDC_PLAY);
    EXPECT_EQ(Log(), Then(kGraphStart, {"bag cam0 device", "bind cam0 device", "add cam0 as Capture",
                                        "search above cam0", "route xbar0 1->2", "search above xbar0",
                                        "bag cam1 device", "bind cam1 device", "add cam1 as Capture",
                                        "search above cam1", "route xbar1 1->2"}));
    EXPECT_EQ(rig.system.graph.held, (std::vector<IBaseFilter*>{first.filter->AsFilter(), second.filter->AsFilter()}));
    EXPECT_TRUE(rig.Engine().IsPlaying());
    rig.system.ExpectReferencesReleased();
}

TEST(TunerGraph, ADeviceWithoutBagFilterOrPlaceInTheGraphIsSkipped) {
    CTunerRig rig;
    rig.system.AddCaptureDevice("a").bagResult = E_FAIL;
    rig.system.AddCaptureDevice("b").filterResult = E_FAIL;
    auto& c = rig.system.AddCaptureDevice("c");
    rig.system.graph.addResults[c.filter->AsFilter()] = E_FAIL;
    rig.system.AddCaptureDevice("d");

    rig.Click(IDC_PLAY);
    EXPECT_EQ(Log(), Then(kGraphStart, {"bag a device", "bag b device", "bind b device", "bag c device",
                                        "bind c device", "add c as Capture", "bag d device", "bind d device",
                                        "add d as Capture", "search above d"}));
    EXPECT_EQ(rig.system.graph.held.size(), 1u);
    rig.system.ExpectReferencesReleased();
}

TEST(TunerGraph, AnObjectThatCannotBeMadeEndsTheBuildButNotThePlay) {
    const std::pair<const char*, Entries> cases[] = {
        {"graph", {"make graph"}},
        {"builder", {"make graph", "make builder"}},
        {"enumerator", {"make graph", "make builder", "builder on graph", "make enumerator"}},
    };
    for (const auto& [what, log] : cases) {
        SCOPED_TRACE(what);
        CTunerRig rig;
        rig.system.AddCaptureDevice("cam");
        rig.system.createResults[what] = REGDB_E_CLASSNOTREG;
        rig.Click(IDC_PLAY);
        EXPECT_EQ(Log(), log);
        EXPECT_TRUE(rig.Engine().GraphBuilt());
        EXPECT_TRUE(rig.Engine().IsPlaying());
        rig.system.ExpectReferencesReleased();
    }
}

// Routing on the crossbars of one device.
class CrossbarRouting : public ::testing::Test {
protected:
    HRESULT Route() { return RouteCrossbarAudio(&system.builder, device.filter->AsFilter()); }

    fake::CFakeSystem system;
    fake::CFakeMoniker& device = system.AddCaptureDevice("cam");
};

TEST_F(CrossbarRouting, OnlyTheFirstDecoderOutputIsRoutedToTheFirstTunerInput) {
    auto& crossbar = system.AddCrossbar("xbar", device.filter->AsFilter(), true);
    // Pins whose information cannot be had are passed over.
    crossbar.outputs = {{PhysConn_Audio_AudioDecoder, E_FAIL},
                        {PhysConn_Video_VideoDecoder},
                        {PhysConn_Audio_AudioDecoder},
                        {PhysConn_Audio_AudioDecoder}};
    crossbar.inputs = {{PhysConn_Audio_Tuner, E_FAIL}, {PhysConn_Audio_Line}, {PhysConn_Audio_Tuner}, {PhysConn_Audio_Tuner}};
    crossbar.routeResult = S_FALSE;  // whatever the routing answers is the answer

    EXPECT_EQ(Route(), S_FALSE);
    EXPECT_EQ(Log(), (Entries{"search above cam", "route xbar 2->2"}));
    system.ExpectReferencesReleased();
}

TEST_F(CrossbarRouting, TheCrossbarUpstreamIsTriedOnlyWhenTheFirstFailsAndNoThirdEver) {
    auto& first = system.AddCrossbar("xbar1", device.filter->AsFilter(), false);
    auto& second = system.AddCrossbar("xbar2", first.AsFilter(), true);
    system.AddCrossbar("xbar3", second.AsFilter(), true);
    EXPECT_EQ(Route(), S_OK);
    EXPECT_EQ(Log(), (Entries{"search above cam", "search above xbar1", "route xbar2 1->2"}));

    Log().clear();
    second.routeResult = E_ACCESSDENIED;
    EXPECT_EQ(Route(), E_ACCESSDENIED);
    EXPECT_EQ(Log(), (Entries{"search above cam", "search above xbar1", "route xbar2 1->2"}));

    Log().clear();
    first.inputs.push_back({PhysConn_Audio_Tuner});
    EXPECT_EQ(Route(), S_OK);
    EXPECT_EQ(Log(), (Entries{"search above cam", "route xbar1 1->2"}));
    system.ExpectReferencesReleased();
}

TEST_F(CrossbarRouting, FailuresAreReturned) {
    // No crossbar at all.
    EXPECT_EQ(Route(), E_NOINTERFACE);

    // One without a decoder output, whose filter cannot be had.
    auto& crossbar = system.AddCrossbar("xbar", device.filter->AsFilter(), true);
    crossbar.outputs = {{PhysConn_Video_VideoDecoder}};
    crossbar.answersFilter = false;
    EXPECT_EQ(Route(), E_NOINTERFACE);
    EXPECT_EQ(RouteTunerToDecoder(&crossbar), E_FAIL);

    // Pin counts that cannot be had.
    crossbar.outputs = {{PhysConn_Audio_AudioDecoder}};
    crossbar.pinCountsResult = E_UNEXPECTED;
    EXPECT_EQ(RouteTunerToDecoder(&crossbar), E_FAIL);
    LONG pin = -1;
    EXPECT_EQ(FindCrossbarPin(&crossbar, PhysConn_Audio_Tuner, &pin), E_UNEXPECTED);

    // No input of the type.
    crossbar.pinCountsResult = S_OK;
    EXPECT_EQ(FindCrossbarPin(&crossbar, PhysConn_Audio_SPDIFDigital, &pin), E_FAIL);
    EXPECT_EQ(pin, -1);
    EXPECT_EQ(FindCrossbarPin(&crossbar, PhysConn_Audio_Tuner, &pin), S_OK);
    EXPECT_EQ(pin, 2);

    for (const std::string& entry : Log()) EXPECT_EQ(entry.rfind("route", 0), std::string::npos) << entry;
    system.ExpectReferencesReleased();
}

}  // namespace
}  // namespace morvane
