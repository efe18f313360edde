// icon_lookup.cpp - the display-free icon lookup.

#include "icon_lookup.h"

namespace tslcat {

int32_t TPlainIconLookup::IconIndex(std::string_view, bool selected, bool open, TFileAttributes attributes)
{
    if (attributes & kFaDirectory)
        return (selected || open) ? kIconFolderOpen : kIconFolder;
    return kIconGenericFile;
}

int32_t FolderIcon(IIconLookup &icons, std::string_view name, bool selected)
{
    return icons.IconIndex(name, selected, selected, kFaDirectory);
}

int32_t FileIcon(IIconLookup &icons, std::string_view name, bool selected)
{
    return icons.IconIndex(name, selected, selected, kFaNormal);
}

} // namespace tslcat
