// The codes of a message: how it looks, which buttons it offers, and which
// button closed it. The numbers are those of the message box's design.
#pragma once

namespace kt::shell {

enum class MsgStyle { Critical = 1, Question = 2, Exclamation = 3, Information = 4 };

enum class MsgButtons { OkCancel = 0, Ok = 1, Cancel = 2 };

enum class MsgAnswer { Ok = 1, Cancel = 2 };

} // namespace kt::shell
