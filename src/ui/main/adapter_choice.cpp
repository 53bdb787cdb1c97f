#include "main/adapter_choice.hpp"

#include <QSettings>

#include <algorithm>

namespace korvane::ui {

namespace {

const AdapterInfo* Find(const AdapterTable& table, const QString& name) {
    const std::string wanted = name.toStdString();
    const auto it = std::find_if(table.entries.begin(), table.entries.end(),
                                 [&wanted](const AdapterInfo& a) { return a.name == wanted; });
    return it == table.entries.end() ? nullptr : &*it;
}

QString Describe(const AdapterInfo& adapter) {
    const QString name = QString::fromStdString(adapter.name);
    const QString description = QString::fromStdString(adapter.description);
    return description.isEmpty() || description == name
               ? name
               : QStringLiteral("%1 (%2)").arg(description, name);
}

} // namespace

QString AdapterChoice::chosen() const {
    return QSettings().value(QString::fromLatin1(kSettingsKey)).toString();
}

void AdapterChoice::choose(const QString& name) {
    QSettings settings;
    if (name.isEmpty())
        settings.remove(QString::fromLatin1(kSettingsKey));
    else
        settings.setValue(QString::fromLatin1(kSettingsKey), name);
}

std::vector<std::string>
AdapterChoice::searchFilter(const AdapterTable& available,
                            const std::vector<std::string>& startNames) const {
    const QString name = chosen();
    if (!name.isEmpty() && Find(available, name) != nullptr)
        return {name.toStdString()};
    return startNames;
}

QString AdapterChoice::statusText(const AdapterTable& available) const {
    const QString name = chosen();
    if (name.isEmpty())
        return {};
    if (const AdapterInfo* adapter = Find(available, name))
        return QStringLiteral("Searching only %1").arg(Describe(*adapter));
    return QStringLiteral("Adapter %1 not found: searching all adapters").arg(name);
}

} // namespace korvane::ui
