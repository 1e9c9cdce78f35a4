#include "app/settings/presets/PresetName.h"

#include <QList>
#include <QString>
#include <QStringDecoder>
#include <algorithm>

#include "app/settings/values/DisplayText.h"

std::optional<std::string> presetNameProblem(std::string_view name) {
    const std::string cannot = "'" + quotedRequestText(name) + "' cannot name a preset: ";
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8.decode(QByteArrayView(name.data(), std::ssize(name)));
    if (utf8.hasError()) {
        return cannot + "it is not UTF-8 text";
    }
    const QList<uint> characters = decoded.toUcs4();
    if (characters.empty() || characters.size() > static_cast<qsizetype>(kLongestPresetName)) {
        return cannot + "it is not 1 to 64 characters";
    }
    const auto printable = [](uint character) { return QChar::isPrint(char32_t{character}); };
    if (!std::ranges::all_of(characters, printable)) {
        return cannot + "it holds a character that is not printable";
    }
    if (name.find('/') != std::string_view::npos) {
        return cannot + "it holds a /";
    }
    if (name.front() == ' ' || name.back() == ' ') {
        return cannot + "it begins or ends with a space";
    }
    return std::nullopt;
}

bool samePresetName(std::string_view one, std::string_view other) {
    return QString::fromUtf8(one.data(), std::ssize(one))
               .compare(QString::fromUtf8(other.data(), std::ssize(other)), Qt::CaseInsensitive) ==
           0;
}
