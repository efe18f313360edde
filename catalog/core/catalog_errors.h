// catalog_errors.h - the exception classes of the catalog core and their
// fixed messages.
//
// Every failure of the tree and of reading or writing the catalog file is
// raised as one of these classes.  Front ends catch `Exception` and show
// `what()` (UTF-8) as it is: the messages are the program's own texts, with
// the placeholder already filled in.
#pragma once

#include <stdexcept>
#include <string>

namespace tslcat {

// Base of every catalog exception.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string &message) : std::runtime_error(message) {}
};

// Item(i) or Child(i) out of range: "List index out of bounds (%d)".
class EListError : public Exception {
public:
    explicit EListError(long long index);
};

// The display refused a new item: "Unable to insert an item".
class EOutOfResources : public Exception {
public:
    EOutOfResources();
};

// A text-form line indented more than one level deeper than the line before:
// "Invalid item level assignment".
class ECatalogTreeError : public Exception {
public:
    ECatalogTreeError();
    explicit ECatalogTreeError(const std::string &message) : Exception(message) {}
};

// Common base of the four file errors below.
class EStreamError : public Exception {
public:
    explicit EStreamError(const std::string &message) : Exception(message) {}
};

// The file cannot be opened for reading: "Cannot open file %s".
class EFOpenError : public EStreamError {
public:
    explicit EFOpenError(const std::string &fileName);
};

// The file (or its temporary sibling) cannot be created: "Cannot create file %s".
class EFCreateError : public EStreamError {
public:
    explicit EFCreateError(const std::string &fileName);
};

// A short read: "Stream read error".
class EReadError : public EStreamError {
public:
    EReadError();

protected:
    explicit EReadError(const std::string &message) : EStreamError(message) {}
};

// A short or failed write, or a failed commit of the saved file:
// "Stream write error".
class EWriteError : public EStreamError {
public:
    EWriteError();
};

// A binary file that does not fit the format: a record size field outside
// 88..343 or too small for the record's name, a child or disc count that the
// rest of the file cannot hold, or nesting deeper than kMaxNestingDepth.  A
// kind of read error, so code that handles EReadError handles it too; the
// message is "Stream read error: " followed by the problem and the byte
// offset where it was found, e.g.
// "Stream read error: invalid record size 87 at byte 10".
class ECatalogFormatError : public EReadError {
public:
    explicit ECatalogFormatError(const std::string &message) : EReadError(message) {}
};

// A file given as a disc that is not a readable ISO 9660 image (not one at
// all, shorter than its volume, or with directories that cannot be read):
// "Cannot read disc image %s: %s", the file's name and the problem.
class EImageError : public Exception {
public:
    EImageError(const std::string &fileName, const std::string &problem);
};

// Another program holds the catalog's writer lock and did not let it go
// within the wait: "The catalog '%s' is being changed by another program
// (lock file '%s.lock'); nothing was changed, try again".
class ECatalogLockedError : public Exception {
public:
    explicit ECatalogLockedError(const std::string &fileName);
};

// A change that needs a file which is not there or cannot be used (no
// backup to restore, a backup that does not load): the message says which.
class ECatalogFileError : public Exception {
public:
    explicit ECatalogFileError(const std::string &message) : Exception(message) {}
};

} // namespace tslcat
