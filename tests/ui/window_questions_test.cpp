// The window's questions and messages open without a loop of their own: a
// job waits for its question's answer and tells its end once it has ended;
// the keyboard answers boxes, starts a backup and stops a job.
#include "support/message_catcher.h"
#include "support/window_rig.h"

#include <QPushButton>
#include <QTest>

namespace {

using kt::engine::JobOutcome;
using kt::test::modalUp;
using kt::test::waitFor;
using kt::test::WindowRig;

// The box or window on top once one is up; null after ten seconds.
QWidget* awaitModal(const char* name = "frmMsgBox") {
    waitFor([&] { return modalUp() && modalUp()->objectName() == QLatin1String(name); }, 10000);
    return modalUp();
}

// A backup of the system database in the rig's 01.KT, its message closed.
void saveFirst(WindowRig& r) {
    kt::test::MessageCatcher catcher;
    r.find<QPushButton>("cmdSave")->click();
    ASSERT_TRUE(r.settled([&] { return catcher.messages.size() == 1; }));
}

// Until the restore's question is answered, nothing goes out and no job
// runs; Cancel sends nothing, Restore sends the backup's two records.
TEST(WindowQuestions, ARestoreWaitsForItsAnswer) {
    WindowRig r;
    r.readyToSave();
    saveFirst(r);
    r.find<QLineEdit>("txtLoad")->setText(r.dir.filePath("01.KT"));
    for (const auto& [button, sent] : {std::pair{"cmdCancel", 0}, {"cmdOk", 2}}) {
        SCOPED_TRACE(button);
        const qsizetype before = r.controller.controller.requests().size();
        r.find<QPushButton>("cmdLoad")->click();
        QWidget* box = awaitModal();
        ASSERT_TRUE(box);
        QTest::qWait(200);
        EXPECT_FALSE(r.window->job().isActive());
        EXPECT_EQ(r.controller.controller.requests().size(), before);
        box->findChild<QCheckBox*>("chkOption")->setChecked(false); // no backup first
        kt::test::MessageCatcher ends;
        box->findChild<QPushButton*>(button)->click();
        ASSERT_TRUE(r.settled());
        EXPECT_EQ(r.controller.controller.requests().size() - before, sent);
    }
}

// The message that ends a job comes once the job has ended, with its
// outcome known, over the job panel that keeps its final count; the panel
// goes when it closes.
TEST(WindowQuestions, AnEndMessageComesOnceTheJobHasEnded) {
    WindowRig r;
    r.readyToSave();
    r.window->setLinkTimes(0, 0, 50);
    const std::tuple<kt::sim::Fault, const char*, JobOutcome> cases[] = {
        {kt::sim::Fault::None, "01.KT", JobOutcome::Finished},
        {kt::sim::Fault::Silence, "02.KT", JobOutcome::NoAnswer}};
    for (const auto& [fault, file, outcome] : cases) {
        SCOPED_TRACE(file);
        r.controller.controller.setFaultPlan({.fault = fault});
        r.find<QLineEdit>("txtSave")->setText(r.dir.filePath(file));
        std::optional<bool> activeUnderBox;
        JobOutcome outcomeUnderBox = JobOutcome::None;
        bool panelUnderBox = false;
        r.every(2, [&] {
            if (QWidget* box = modalUp(); box && !activeUnderBox) {
                activeUnderBox = r.window->job().isActive();
                outcomeUnderBox = r.window->job().outcome();
                panelUnderBox = r.find<QWidget>("fraCommStatus")->isVisible();
                box->findChild<QPushButton*>("cmdOk")->click();
            }
        });
        r.find<QPushButton>("cmdSave")->click();
        ASSERT_TRUE(r.settled([&] { return activeUnderBox.has_value(); }));
        r.driver.stop();
        EXPECT_FALSE(*activeUnderBox);
        EXPECT_EQ(outcomeUnderBox, outcome);
        EXPECT_TRUE(panelUnderBox);
        EXPECT_FALSE(r.find<QWidget>("fraCommStatus")->isVisible());
    }
}

// Closing the differences, opened from the keyboard, gives the focus back
// to the box's default button.
TEST(WindowQuestions, TheFocusComesBackToTheDefaultButtonAfterTheDifferences) {
    WindowRig r;
    r.readyToSave();
    saveFirst(r);
    r.find<QLineEdit>("txtLoad")->setText(r.dir.filePath("01.KT"));
    r.controller.store.setValue("DI", "changed");
    r.trigger("mnuCompare");
    QWidget* box = awaitModal();
    ASSERT_TRUE(box);
    auto* details = box->findChild<QPushButton*>("cmdDetails");
    ASSERT_TRUE(details->isVisible());
    details->setFocus();
    QTest::keyClick(details, Qt::Key_Space);
    QWidget* differences = awaitModal("frmDifferences");
    ASSERT_TRUE(differences);
    differences->findChild<QPushButton*>("cmdClose")->click();
    ASSERT_EQ(awaitModal(), box);
    EXPECT_EQ(box->focusWidget(), box->findChild<QPushButton*>("cmdOk"));
    box->findChild<QPushButton*>("cmdOk")->click();
    ASSERT_TRUE(r.settled());
}

// Alt+S starts a backup, as the guide says; the settings take another
// letter.
TEST(WindowQuestions, AltSStartsABackup) {
    WindowRig r;
    r.readyToSave();
    r.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(r.window.get()));
    kt::test::MessageCatcher catcher;
    QTest::keyClick(r.window.get(), Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(r.settled([&] { return !catcher.messages.isEmpty(); }));
    EXPECT_TRUE(catcher.messages[0].text.startsWith(r.window->languageText("ProcessSaveOk")))
        << catcher.messages[0].text.toStdString();
    EXPECT_TRUE(r.find<QWidget>("fraSetting")->isHidden());
}

// Escape asks before it stops a running job: Go on, the default, leaves it
// running; Stop cancels it.
TEST(WindowQuestions, EscapeStopsARunningJobAfterItsQuestion) {
    WindowRig r;
    r.readyToSave({"chkSystemDatabase", "chkUserCard"});
    r.window->setLinkTimes(100, 100, 1000);
    r.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(r.window.get()));
    r.find<QPushButton>("cmdSave")->click();
    for (const auto& [button, stops] : {std::pair{"cmdCancel", false}, {"cmdOk", true}}) {
        SCOPED_TRACE(button);
        ASSERT_TRUE(r.window->job().isActive());
        QTest::keyClick(r.window.get(), Qt::Key_Escape);
        QWidget* box = awaitModal();
        ASSERT_TRUE(box);
        EXPECT_EQ(box->findChild<QPushButton*>("cmdOk")->text(), "&Stop");
        EXPECT_TRUE(box->findChild<QPushButton*>("cmdCancel")->isDefault());
        box->findChild<QPushButton*>(button)->click();
        EXPECT_EQ(r.window->job().isActive(), !stops);
    }
    EXPECT_EQ(r.window->job().outcome(), JobOutcome::Cancelled);
}

} // namespace
