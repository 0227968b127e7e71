// The Tuner button on fake TV tuner devices: FM radio mode and the property
// frame of the first tuner, once per tuner device, or the one message.

#include "tuner_rig.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

using fake::Log;

const std::pair<std::string, std::string> kNoTuner{"Sorry, no tuner found", "Error"};
const Entries kEnumerate = {"make enumerator", "enumerate tuners"};

Entries Then(Entries first, const Entries& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

IUnknown* TunerOf(fake::CFakeMoniker& device) { return static_cast<IAMTVTuner*>(device.filter); }

TEST(TunerButton, WithoutATunerOneMessageAndNothingElse) {
    struct Case {
        const char* what;
        HRESULT enumeration;
        bool withoutEnumerator;
        HRESULT make;
        Entries log;
    } cases[] = {
        {"an empty category", S_FALSE, false, S_OK, kEnumerate},
        {"a failing enumeration", E_FAIL, false, S_OK, kEnumerate},
        {"success without an enumerator", S_OK, true, S_OK, kEnumerate},
        {"no device enumerator", S_OK, false, REGDB_E_CLASSNOTREG, {"make enumerator"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CTunerRig rig;
        rig.system.enumerator.tuners.result = c.enumeration;
        rig.system.enumerator.tuners.withoutEnumerator = c.withoutEnumerator;
        rig.system.createResults["enumerator"] = c.make;
        rig.Click(IDC_TUNER);
        EXPECT_EQ(rig.host.messageBoxes, (std::vector{kNoTuner}));
        EXPECT_EQ(Log(), c.log);
        rig.system.ExpectReferencesReleased();
    }
}

TEST(TunerButton, TheTunerGoesToFmRadioAndShowsItsPagesOnEveryClickWithoutAPlay) {
    CTunerRig rig;
    auto& device = rig.system.AddTuner("tuner");
    rig.Click(IDC_TUNER);
    EXPECT_EQ(Log(), Then(kEnumerate, {"bag tuner device", "bind tuner device", "ask tuner tuner",
                                       "mode tuner 2", "frame tuner"}));
    ASSERT_EQ(rig.system.frames.size(), 1u);
    const fake::Frame& frame = rig.system.frames[0];
    EXPECT_EQ(frame.owner, fake::CFakeSystem::Owner());
    EXPECT_EQ(frame.x, 30u);
    EXPECT_EQ(frame.y, 30u);
    EXPECT_FALSE(frame.withCaption);
    EXPECT_EQ(frame.objectCount, 1u);
    EXPECT_EQ(frame.object, TunerOf(device));
    EXPECT_EQ(frame.pages, device.filter->pageIds);
    EXPECT_TRUE(rig.host.messageBoxes.empty());
    EXPECT_FALSE(rig.Engine().GraphBuilt());
    rig.system.ExpectReferencesReleased({{device.filter, 1}});

    // Bound again, but the held tuner is used: not asked for again.
    Log().clear();
    rig.Click(IDC_TUNER);
    EXPECT_EQ(Log(), Then(kEnumerate, {"bag tuner device", "bind tuner device", "mode tuner 2", "frame tuner"}));
    EXPECT_EQ(rig.system.frames.size(), 2u);
    rig.system.ExpectReferencesReleased({{device.filter, 1}});

    // Even when binding fails now.
    Log().clear();
    device.filterResult = E_FAIL;
    rig.Click(IDC_TUNER);
    EXPECT_EQ(Log(), Then(kEnumerate, {"bag tuner device", "bind tuner device", "mode tuner 2", "frame tuner"}));
    EXPECT_TRUE(rig.host.messageBoxes.empty());

    // The window's end lets go of the tuner.
    rig.dialog.reset();
    rig.system.ExpectReferencesReleased();
}

TEST(TunerButton, TwoTunersShowTheFirstOneTwice) {
    CTunerRig rig;
    auto& first = rig.system.AddTuner("tuner0");
    rig.system.AddTuner("tuner1");
    rig.Click(IDC_TUNER);
    EXPECT_EQ(Log(), Then(kEnumerate, {"bag tuner0 device", "bind tuner0 device", "ask tuner tuner0",
                                       "mode tuner0 2", "frame tuner0", "bag tuner1 device", "bind tuner1 device",
                                       "mode tuner0 2", "frame tuner0"}));
    ASSERT_EQ(rig.system.frames.size(), 2u);
    EXPECT_EQ(rig.system.frames[1].object, TunerOf(first));
    rig.system.ExpectReferencesReleased({{first.filter, 1}});
}

TEST(TunerButton, WithoutPagesThereIsNoFrameAndNoMessage) {
    for (const bool pagesFail : {false, true}) {
        SCOPED_TRACE(pagesFail ? "the pages cannot be had" : "no pages");
        CTunerRig rig;
        auto& device = rig.system.AddTuner("tuner", pagesFail);
        device.filter->pagesResult = E_OUTOFMEMORY;
        rig.Click(IDC_TUNER);
        EXPECT_EQ(Log(), Then(kEnumerate, {"bag tuner device", "bind tuner device", "ask tuner tuner", "mode tuner 2"}));
        EXPECT_TRUE(rig.system.frames.empty());
        EXPECT_TRUE(rig.host.messageBoxes.empty());
        rig.system.ExpectReferencesReleased({{device.filter, 1}});
    }

    // The pages of the held tuner are what counts, not those of the device.
    CTunerRig rig;
    auto& withPages = rig.system.AddTuner("with pages");
    rig.system.AddTuner("without", false);
    rig.Click(IDC_TUNER);
    EXPECT_EQ(rig.system.frames.size(), 2u);
    rig.system.ExpectReferencesReleased({{withPages.filter, 1}});
}

TEST(TunerButton, DevicesThatGiveNoTunerArePassedOverButCounted) {
    const std::pair<const char*, Entries> cases[] = {
        {"no bag", {"bag odd device"}},
        {"no filter", {"bag odd device", "bind odd device"}},
        {"no tuner", {"bag odd device", "bind odd device", "ask tuner odd"}},
    };
    for (const auto& [what, log] : cases) {
        SCOPED_TRACE(what);
        CTunerRig rig;
        auto& device = rig.system.AddTuner("odd");
        device.bagResult = what == cases[0].first ? E_FAIL : S_OK;
        device.filterResult = what == cases[1].first ? E_FAIL : S_OK;
        device.filter->tuner = what != cases[2].first;
        rig.Click(IDC_TUNER);
        EXPECT_EQ(Log(), Then(kEnumerate, log));
        EXPECT_TRUE(rig.host.messageBoxes.empty());
        EXPECT_TRUE(rig.system.frames.empty());
        rig.system.ExpectReferencesReleased();

        // A tuner after it is the one held.
        auto& tuner = rig.system.AddTuner("tuner");
        rig.Click(IDC_TUNER);
        ASSERT_EQ(rig.system.frames.size(), 1u);
        EXPECT_EQ(rig.system.frames[0].object, TunerOf(tuner));
        rig.system.ExpectReferencesReleased({{tuner.filter, 1}});
    }
}

TEST(TunerButton, PlayAfterTheTunerBuildsTheGraphOnItsOwn) {
    CTunerRig rig;
    auto& tuner = rig.system.AddTuner("tuner");
    rig.Click(IDC_TUNER);
    Log().clear();
    rig.Click(IDC_PLAY);
    EXPECT_EQ(Log(), (Entries{"make graph", "make builder", "builder on graph", "make enumerator",
                              "enumerate capture"}));
    EXPECT_TRUE(rig.Engine().IsPlaying());
    rig.system.ExpectReferencesReleased({{tuner.filter, 1}});
}

}  // namespace
}  // namespace morvane
