// Start and stop of a driver instance, with every way Init can fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/driver_instance.h"
#include "driver/tovi.h"
#include "driver/unit_init.h"
#include "host/memory.h"
#include "platform/platform.h"
#include "tests/support/driver_fixture.h"

namespace {

using hostapi::WindowCallKind;
using tovitest::DriverTest;

const std::string kInternalErrorBytes = "\x56\x6E\x69\x74\xF8\x6E\xED\x20\x63\x68\x79\x62\x61";

int CountCalls(WindowCallKind kind) {
    const auto calls = hostapi::WindowCalls();
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const auto& c) { return c.kind == kind; }));
}

TEST(Lifecycle, NullInstancesAndVersion) {
    Done(nullptr);
    DisposeDriver(nullptr);
    EXPECT_EQ(Version(), 0x30000);
}

TEST(Lifecycle, DoneWithoutInitReleasesCleanly) {
    // The lock was never initialised: Done must not delete it.
    DriverInstance* driver = MakeDriver();
    ASSERT_NE(driver, nullptr);
    EXPECT_STREQ(driver->log_path, "tovi.log");
    EXPECT_EQ(driver->settings, 0u);
    Done(driver);
    Done(driver);
    DisposeDriver(driver);
}

TEST(Lifecycle, MakeDriverWithoutMemoryYieldsNull) {
    host::testing::FailAllocation(1);
    EXPECT_EQ(MakeDriver(), nullptr);
    host::testing::FailAllocation(0);
}

TEST_F(DriverTest, RunningInstanceStopsAndDestroysItsWindow) {
    ASSERT_EQ(Start(), 1) << message();
    EXPECT_NE(driver_->worker_thread, nullptr);
    EXPECT_EQ(driver_->host_value, 0xC0FFEEu);
    EXPECT_EQ(driver_->host_flag, 7);
    EXPECT_EQ(driver_->host_context, &context_);
    EXPECT_STREQ(driver_->log_path, "plant.log");
    const WindowHandle window = driver_->driver_window;
    ASSERT_NE(window, 0u);

    Done(driver_);
    EXPECT_EQ(driver_->driver_window, 0u);
    EXPECT_EQ(driver_->worker_thread, nullptr);
    EXPECT_EQ(driver_->work_event, nullptr);
    EXPECT_EQ(driver_->stop_event, nullptr);
    const auto calls = hostapi::WindowCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().kind, WindowCallKind::Destroy);
    EXPECT_EQ(calls.back().window, window);
    // A second Done finds nothing left to release.
    Done(driver_);
    EXPECT_EQ(CountCalls(WindowCallKind::Destroy), 1);
}

TEST_F(DriverTest, UnreadableParameterFileCreatesNothing) {
    driver_ = MakeDriver();
    ASSERT_EQ(InitOn(files_.Path("missing.ini")), 0);
    EXPECT_EQ(message(), "Nelze otev\xF8\xEDt parametrick\xFD soubor");
    EXPECT_EQ(CountCalls(WindowCallKind::Create), 0);
    EXPECT_EQ(driver_->work_event, nullptr);
    EXPECT_EQ(driver_->worker_thread, nullptr);
}

TEST_F(DriverTest, FileWithoutSettingsSectionIsInvalid) {
    EXPECT_EQ(Start("[modules]\nm1=ai8, dev, sub\n"), 0);
    EXPECT_EQ(message(), "Neplatn\xFD form\xE1t parametrick\xE9ho souboru");
}

// Each creation after the window that can fail: the message is the internal error,
// and Done still destroys the window and closes what was created.
TEST_F(DriverTest, EventAndThreadFailuresReportInternalError) {
    struct Case {
        const char* what;
        void (*inject)();
        bool work_event_made;
        bool stop_event_made;
    };
    const Case cases[] = {
        {"work event", [] { tovi::platform::testing::FailEventCreation(1); }, false, false},
        {"stop event", [] { tovi::platform::testing::FailEventCreation(2); }, true, false},
        {"thread", [] { tovi::platform::testing::FailThreadCreation(1); }, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        hostapi::Reset();
        driver_ = MakeDriver();
        c.inject();
        ASSERT_EQ(InitOn(files_.Write("plant.ini", tovitest::kEmptyPlant)), 0);
        tovi::platform::testing::FailEventCreation(0);
        tovi::platform::testing::FailThreadCreation(0);
        EXPECT_EQ(message(), kInternalErrorBytes);
        EXPECT_EQ(driver_->work_event != nullptr, c.work_event_made);
        EXPECT_EQ(driver_->stop_event != nullptr, c.stop_event_made);
        EXPECT_EQ(driver_->worker_thread, nullptr);
        EXPECT_NE(driver_->driver_window, 0u);
        Done(driver_);
        EXPECT_EQ(CountCalls(WindowCallKind::Destroy), 1);
        DisposeDriver(driver_);
        driver_ = nullptr;
    }
}

TEST_F(DriverTest, NoMemoryForCallbacksRecordReportsInternalError) {
    driver_ = MakeDriver();
    const std::string path = files_.Write("plant.ini", tovitest::kEmptyPlant);
    // The plant has no modules and no channels: the callbacks record is the only block Init takes.
    host::testing::FailAllocation(1);
    EXPECT_EQ(InitOn(path), 0);
    host::testing::FailAllocation(0);
    EXPECT_EQ(message(), kInternalErrorBytes);
    EXPECT_EQ(CountCalls(WindowCallKind::Create), 0);
}

TEST_F(DriverTest, FailedWindowCreationIsNotAFault) {
    hostapi::FailNextWindowCreation();
    ASSERT_EQ(Start(), 1);
    EXPECT_EQ(driver_->driver_window, 0u);
    Done(driver_);
    EXPECT_EQ(CountCalls(WindowCallKind::Destroy), 0);
}

TEST_F(DriverTest, MessageIsCutAtTheHostsCapacity) {
    driver_ = MakeDriver();
    const std::string path = files_.Path("missing.ini");
    char small[6];
    std::fill(std::begin(small), std::end(small), 'x');
    ASSERT_EQ(Init(driver_, static_cast<std::uint32_t>(path.size()), path.c_str(), 5, small, 0, 0, nullptr, nullptr),
              0);
    EXPECT_STREQ(small, "Nelze");
}

TEST(UnitInitialisers, OnlyTheFirstCallInitialisesTheHostLibrary) {
    hostapi::Reset();
    const std::int32_t first_before = tovi::UnitInitCount();
    const std::int32_t second_before = tovi::SecondUnitInitCount();
    ToviUnitInit();
    ToviUnitInit();
    ToviUnitInit();
    EXPECT_EQ(tovi::UnitInitCount(), first_before + 3);
    if (first_before == 0) {
        EXPECT_EQ(hostapi::InitCalls(), 1);
        EXPECT_EQ(tovi::SecondUnitInitCount(), second_before + 1);
    }
    ToviUnderscoreUnitInit();
    EXPECT_EQ(tovi::SecondUnitInitCount(), second_before + (first_before == 0 ? 2 : 1));
}

}  // namespace
