// SystemIconList: the tree's image list.  There are no icons of our own:
// the desktop's icon theme supplies them, looked up by a name's type
// (QMimeDatabase, by extension only, so discs that are not present work)
// and kind (folder or file).  Each distinct icon gets a stable index in one
// process-wide list that every SystemIconList with ShareImages shares, and
// the node stores only that index.
#pragma once

#include <QHash>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QSize>
#include <QString>

#include "icon_lookup.h"

namespace tslcat {

enum TImageSize { isLarge, isSmall };

class SystemIconList final : public IIconLookup {
public:
    // Fixed positions (kIconGenericFile, kIconFolder, kIconFolderOpen of
    // icon_lookup.h): folder indexes stored in "mdb.dat" must mean the same
    // in every run, in tslcat-cli, which has no icon theme, and in files
    // from the Windows program, whose shell list has them there too.

    explicit SystemIconList(TImageSize size = isSmall, bool shareImages = true);

    TImageSize ImageSize() const { return m_imageSize; }
    void SetImageSize(TImageSize size);
    bool ShareImages() const { return m_shareImages; }
    void SetShareImages(bool share);
    int Width() const;
    int Height() const;
    static QString Version();
    void SetVersion(const QString &) {} // the version is not assignable

    // Index of the icon for `name`.  `selected` and `open` pick the open
    // folder; with faDirectory in `attributes` the name is a folder,
    // otherwise a file whose type comes from its extension.  An empty
    // attribute set asks the file system what `name` is when it exists.
    int32_t IconIndex(std::string_view name, bool selected, bool open, TFileAttributes attributes) override;

    int Count() const;
    QIcon Icon(int index) const; // null icon for an index outside the list

    // Makes /usr/share/icons searchable and falls back to Adwaita when the
    // desktop names no theme that has folder icons (a bare X server, tests).
    static void PrepareIconTheme();

private:
    struct Store {
        QList<QIcon> icons;
        QHash<QString, int> indexByKey;
    };
    static Store &SharedStore();
    Store &ActiveStore();
    const Store &ActiveStore() const;
    void Bind();
    static void InitStore(Store &store);
    static int Intern(Store &store, const QString &key, const QIcon &icon);

    TImageSize m_imageSize;
    bool m_shareImages;
    Store m_ownStore; // used only without ShareImages
};

} // namespace tslcat
