// A hook's time limit on Windows: its job object holds the hook and all it
// starts, from the hook's first instruction, and the limit ends them all.
#include "fleet/hooks.h"
#include "support/printers.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

bool processGone(DWORD id) {
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (!process)
        return true;
    const bool ended = WaitForSingleObject(process, 5000) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

TEST(WindowsHooks, TheLimitEndsAHookAndTheChildAndGrandchildItStarted) {
    QTemporaryDir dir;
    kt::fleet::Hook hook(
        {QStringLiteral(KT_PROCESS_CHAIN), QStringLiteral("3"),
         QDir::toNativeSeparators(dir.path())},
        {}, [](const QString&) {}, 5);
    QSignalSpy ended(&hook, &kt::fleet::Hook::ended);
    hook.start();
    ASSERT_TRUE(ended.wait(60000)) << "the hook did not end";
    ASSERT_FALSE(hook.result().ok());
    EXPECT_EQ(hook.result().error().message, QStringLiteral("stopped after 5 s"));
    const QStringList started = QDir(dir.path()).entryList(QDir::Files);
    ASSERT_EQ(started.size(), 3) << "the chain did not start within the limit";
    for (const QString& id : started)
        EXPECT_TRUE(processGone(id.toULong()))
            << "process " << id.toStdString() << " outlived the limit";
}

} // namespace
