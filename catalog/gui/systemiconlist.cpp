#include "systemiconlist.h"

#include "catalog_names.h"

#include <QApplication>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStyle>

namespace tslcat {

namespace {

QIcon ThemeIcon(std::initializer_list<const char *> names, QStyle::StandardPixmap fallback)
{
    for (const char *name : names) {
        const QIcon icon = QIcon::fromTheme(QLatin1String(name));
        if (!icon.isNull())
            return icon;
    }
    if (auto *style = QApplication::style())
        return style->standardIcon(fallback);
    return QIcon();
}

// The part of a name that decides its type: everything from the first dot
// of the last path component ("x.tar.gz" -> ".tar.gz"), or the whole
// component when it has no dot ("Makefile").  Names that share it share
// a type, so the type is looked up once per key.
QString TypeKey(const QString &name)
{
    qsizetype start = 0;
    for (qsizetype i = name.size() - 1; i >= 0; --i) {
        if (name[i] == QLatin1Char('/') || name[i] == QLatin1Char('\\') || name[i] == QLatin1Char(':')) {
            start = i + 1;
            break;
        }
    }
    const QString component = name.mid(start);
    const qsizetype dot = component.indexOf(QLatin1Char('.'), 1);
    return (dot < 0 ? component : component.mid(dot)).toLower();
}

} // namespace

SystemIconList::SystemIconList(TImageSize size, bool shareImages) : m_imageSize(size), m_shareImages(shareImages)
{
    Bind();
}

void SystemIconList::SetImageSize(TImageSize size)
{
    m_imageSize = size;
    Bind();
}

void SystemIconList::SetShareImages(bool share)
{
    m_shareImages = share;
    Bind();
}

int SystemIconList::Width() const
{
    return m_imageSize == isSmall ? 16 : 32;
}
int SystemIconList::Height() const
{
    return Width();
}

QString SystemIconList::Version()
{
    return QStringLiteral("SystemIconList 2.0 (icon theme)");
}

void SystemIconList::PrepareIconTheme()
{
    QStringList paths = QIcon::themeSearchPaths();
    const QString shared = QStringLiteral("/usr/share/icons");
    if (!paths.contains(shared))
        paths.append(shared);
    QIcon::setThemeSearchPaths(paths);
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor") ||
        QIcon::fromTheme(QStringLiteral("folder")).isNull())
        QIcon::setThemeName(QStringLiteral("Adwaita"));
}

SystemIconList::Store &SystemIconList::SharedStore()
{
    static Store store;
    if (store.icons.isEmpty())
        InitStore(store);
    return store;
}

SystemIconList::Store &SystemIconList::ActiveStore()
{
    return m_shareImages ? SharedStore() : m_ownStore;
}

const SystemIconList::Store &SystemIconList::ActiveStore() const
{
    return m_shareImages ? SharedStore() : m_ownStore;
}

void SystemIconList::Bind()
{
    // Without sharing, the list is a copy of the shared one taken now;
    // with sharing there is nothing to copy.
    if (!m_shareImages)
        m_ownStore = SharedStore();
}

void SystemIconList::InitStore(Store &store)
{
    store.icons.clear();
    store.indexByKey.clear();
    // The first five places are those of the Windows shell list: unknown
    // file, document, program, closed folder, open folder.
    Intern(store, QStringLiteral("generic-file"),
           ThemeIcon({"application-x-generic", "text-x-generic", "unknown"}, QStyle::SP_FileIcon));
    Intern(store, QStringLiteral("icon:text-x-generic"), ThemeIcon({"text-x-generic"}, QStyle::SP_FileIcon));
    Intern(store, QStringLiteral("icon:application-x-executable"),
           ThemeIcon({"application-x-executable"}, QStyle::SP_FileIcon));
    Intern(store, QStringLiteral("folder"), ThemeIcon({"folder"}, QStyle::SP_DirIcon));
    Intern(store, QStringLiteral("folder-open"), ThemeIcon({"folder-open"}, QStyle::SP_DirOpenIcon));
    Q_ASSERT(store.indexByKey.value(QStringLiteral("generic-file")) == kIconGenericFile);
    Q_ASSERT(store.indexByKey.value(QStringLiteral("folder")) == kIconFolder);
    Q_ASSERT(store.indexByKey.value(QStringLiteral("folder-open")) == kIconFolderOpen);
}

int SystemIconList::Intern(Store &store, const QString &key, const QIcon &icon)
{
    const auto found = store.indexByKey.constFind(key);
    if (found != store.indexByKey.constEnd())
        return *found;
    store.icons.append(icon);
    const int index = int(store.icons.size() - 1);
    store.indexByKey.insert(key, index);
    return index;
}

int32_t SystemIconList::IconIndex(std::string_view rawName, bool /*selected*/, bool open, TFileAttributes attributes)
{
    Store &store = ActiveStore();
    const QString name = DecodeName(rawName);
    bool folder = (attributes & kFaDirectory) != 0;
    if (attributes == 0) {
        const QFileInfo info(name);
        folder = info.exists() && info.isDir();
    }
    if (folder)
        return open ? kIconFolderOpen : kIconFolder; // the catalog passes selected == open

    const QString typeKey = QStringLiteral("type:") + TypeKey(name);
    const auto known = store.indexByKey.constFind(typeKey);
    if (known != store.indexByKey.constEnd())
        return *known;

    static const QMimeDatabase mimeDatabase;
    const QMimeType type = mimeDatabase.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    int index = kIconGenericFile;
    if (type.isValid() && !type.isDefault()) {
        for (const QString &iconName : {type.iconName(), type.genericIconName()}) {
            const QIcon icon = QIcon::fromTheme(iconName);
            if (!icon.isNull()) {
                index = Intern(store, QStringLiteral("icon:") + iconName, icon);
                break;
            }
        }
    }
    store.indexByKey.insert(typeKey, index);
    return index;
}

int SystemIconList::Count() const
{
    return int(ActiveStore().icons.size());
}

QIcon SystemIconList::Icon(int index) const
{
    const Store &store = ActiveStore();
    if (index < 0 || index >= store.icons.size())
        return QIcon();
    return store.icons.at(index);
}

} // namespace tslcat
