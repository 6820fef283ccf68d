// The event loop's watch on a portable handle: Ready comes once the handle is raised, not before, and stops
// once what waited has been taken.
#include "app/wait_notifier.h"
#include "portable/wait.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {

TEST(WaitNotifier, ReadyOnlyWhileTheHandleIsRaised)
{
    portable::Wakeup wakeup;
    ASSERT_TRUE(wakeup.Valid());
    WaitNotifier notifier(wakeup.Handle());
    int ready = 0;
    QObject::connect(&notifier, &WaitNotifier::Ready, [&] {
        ++ready;
        wakeup.Clear();
    });

    QCoreApplication::processEvents();
    EXPECT_EQ(ready, 0) << "ready before anything was raised";

    wakeup.Raise();
    while (ready == 0) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(ready, 1) << "ready again after the handle was cleared";

    wakeup.Raise();
    while (ready == 1) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

}  // namespace
