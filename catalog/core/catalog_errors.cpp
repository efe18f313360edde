// catalog_errors.cpp - the fixed messages of the catalog exceptions.

#include "catalog_errors.h"

namespace tslcat {

EListError::EListError(long long index) : Exception("List index out of bounds (" + std::to_string(index) + ")") {}

EOutOfResources::EOutOfResources() : Exception("Unable to insert an item") {}

ECatalogTreeError::ECatalogTreeError() : Exception("Invalid item level assignment") {}

EFOpenError::EFOpenError(const std::string &fileName) : EStreamError("Cannot open file " + fileName) {}

EFCreateError::EFCreateError(const std::string &fileName) : EStreamError("Cannot create file " + fileName) {}

EReadError::EReadError() : EStreamError("Stream read error") {}

EWriteError::EWriteError() : EStreamError("Stream write error") {}

EImageError::EImageError(const std::string &fileName, const std::string &problem)
    : Exception("Cannot read disc image " + fileName + ": " + problem)
{
}

ECatalogLockedError::ECatalogLockedError(const std::string &fileName)
    : Exception("The catalog '" + fileName + "' is being changed by another program (lock file '" + fileName +
                ".lock'); nothing was changed, try again")
{
}

} // namespace tslcat
