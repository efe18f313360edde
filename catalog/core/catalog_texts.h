// catalog_texts.h - the program's fixed texts that the core produces or that
// both front ends show.  One home for each, so the window and tslcat-cli
// say the same thing.
#pragma once

namespace tslcat::texts {

inline constexpr const char kDatabaseFileName[] = "mdb.dat";
inline constexpr const char kNoDatabase[] = "No Database found (file 'mdb.dat' missing)";
inline constexpr const char kLoadingDatabase[] = "Loading Database...";
inline constexpr const char kPreparingTreeNodes[] = "Preparing Tree Nodes...";
inline constexpr const char kDisplayingTree[] = "Displaying Tree...";
inline constexpr const char kSavingDatabase[] = "Saving Database...";
inline constexpr const char kSearching[] = "Searching...";
inline constexpr const char kDatabaseLabelInitial[] = "Database:";

inline constexpr const char kSearchTextInitial[] = "Search Text goes here !";
inline constexpr const char kEnterValidSearchString[] = "Enter valid Search String !";
inline constexpr const char kNoMatches[] = "No matches !";
// A search stopped because the expression backtracks without end on a name.
inline constexpr const char kExpressionTooComplex[] = "Expression too complex !";

inline constexpr const char kCDNameInitial[] = "CD Name";
// "No CD present", CR, ten spaces and "or", CR, "No Volume label !".
inline constexpr const char kNoCDPresent[] = "No CD present\r          or\rNo Volume label !";

inline constexpr const char kDriveNotReady[] = "Drive not ready !";
// The insert prompt is kInsertCDBefore + disc name + kInsertCDAfter.
inline constexpr const char kInsertCDBefore[] = "Insert CD \r\r'";
inline constexpr const char kInsertCDAfter[] = "'\r\r into CD-Rom Drive, then press OK";
// The offer of another volume holding a result's file: kOtherDiscBefore +
// disc name + kOtherDiscOn + mount path + kOtherDiscLabel + label +
// kOtherDiscAfter.
inline constexpr const char kOtherDiscBefore[] = "The disc '";
inline constexpr const char kOtherDiscOn[] = "' is not mounted, but the file is on\r\r";
inline constexpr const char kOtherDiscLabel[] = "   label '";
inline constexpr const char kOtherDiscAfter[] = "'\r\rThis may be another disc. Use it?";

// The message for "Run Selected File" and "Open with Notepad" on a member of
// an archive: kInsideArchiveBefore + member name + kInsideArchiveMiddle +
// archive name + kInsideArchiveAfter.
inline constexpr const char kInsideArchiveBefore[] = "'";
inline constexpr const char kInsideArchiveMiddle[] = "' is inside the archive '";
inline constexpr const char kInsideArchiveAfter[] =
    "' and cannot be opened on its own.\r\rUse \"Browse Containing Folder\" to open the folder holding the archive.";

// Prefix of every full path in a result row, standing in for the drive.
inline constexpr const char kFullPathPrefix[] = "[ ]:\\";

} // namespace tslcat::texts
