// The backup file set: the main file (sections "HEAD" and "Data") and the
// card files that hold user cards from index 2000 on.
#pragma once

#include <QString>

namespace kt::engine {

inline constexpr char kHeadSection[] = "HEAD";
inline constexpr char kTitleKey[] = "Title";
inline constexpr char kTitle[] = "KT560AX";
inline constexpr char kDataSection[] = "Data";
inline constexpr int kCardRecordLength = 24;

// The file that holds user card `index`: the main file for 1 to 1999, else
// the card file of its block of 2000 (tags 2, 4, 6, 8), named by the tag in
// front of the main file's name, in the main file's directory:
// /backup/01.KT gives /backup/201.KT; a bare 01.KT gives 201.KT.
QString cardFile(const QString& mainFile, int index);

} // namespace kt::engine
