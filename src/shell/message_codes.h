// The codes of a message: how it looks, which buttons it offers, and which
// button closed it. The numbers are those of the message box's design; the
// questions before a restore, before a backup is replaced and before a
// running job is stopped, by a close or alone, have buttons of their own.
#pragma once

namespace kt::shell {

enum class MsgStyle { Critical = 1, Question = 2, Exclamation = 3, Information = 4 };

enum class MsgButtons {
    OkCancel = 0,
    Ok = 1,
    Cancel = 2,
    RestoreCancel = 3, // "Restore" answers Ok; Cancel is the default
    ReplaceCancel = 4, // "Replace" answers Ok; Cancel is the default
    StopGoOn = 5,      // "Stop and close" answers Ok; "Go on" answers Cancel and is the default
    StopJobGoOn = 6,   // "Stop" answers Ok; "Go on" answers Cancel and is the default
};

enum class MsgAnswer { Ok = 1, Cancel = 2 };

} // namespace kt::shell
