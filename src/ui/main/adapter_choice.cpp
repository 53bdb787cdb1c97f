#include "main/adapter_choice.hpp"

#include <QSettings>
#include <QStringList>

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

QString AdapterChoice::statusText(const AdapterTable& available,
                                  const std::vector<std::string>& startNames) const {
    const QString name = chosen();
    const AdapterInfo* adapter = name.isEmpty() ? nullptr : Find(available, name);
    if (adapter != nullptr)
        return QStringLiteral("Searching only %1").arg(Describe(*adapter));

    // The start's names decide: the ones that exist are searched.
    QStringList present;
    QStringList missing;
    for (const std::string& start : startNames) {
        const QString startName = QString::fromStdString(start);
        if (const AdapterInfo* found = Find(available, startName))
            present << Describe(*found);
        else
            missing << startName;
    }
    const QString gone =
        name.isEmpty() ? QString() : QStringLiteral("Adapter %1 not found").arg(name);
    if (startNames.empty()) {
        if (available.entries.empty())
            return QStringLiteral("Nothing is searched: no Ethernet adapter was found");
        return gone.isEmpty() ? QString() : gone + QStringLiteral(": searching all adapters");
    }
    if (present.isEmpty()) {
        QString why = QStringLiteral("no adapter named %1").arg(missing.join(QStringLiteral(", ")));
        if (!gone.isEmpty())
            why = gone + QStringLiteral(", ") + why;
        return QStringLiteral("Nothing is searched: %1").arg(why);
    }
    const QString only =
        QStringLiteral("searching only %1").arg(present.join(QStringLiteral(", ")));
    if (!gone.isEmpty())
        return gone + QStringLiteral(": ") + only;
    return only.left(1).toUpper() + only.mid(1);
}

QString AdapterChoice::searchedText(const QString& before,
                                    const std::vector<SearchResult::AdapterNote>& notes) {
    QStringList skipped;
    for (const auto& note : notes)
        if (!note.problem.empty())
            skipped << QStringLiteral("%1 (%2)").arg(QString::fromStdString(note.name),
                                                     QString::fromStdString(note.problem));
    if (notes.empty() || skipped.isEmpty())
        return before; // every adapter it looked at was searched, or there was none to look at
    const QString list = skipped.join(QStringLiteral(", "));
    if (skipped.size() == static_cast<qsizetype>(notes.size()))
        return QStringLiteral("Nothing was searched: %1").arg(list);
    return before.isEmpty() ? QStringLiteral("Not searched: %1").arg(list)
                            : QStringLiteral("%1; not searched: %2").arg(before, list);
}

} // namespace korvane::ui
