#include "app/web/PageState.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

#include "app/control/KestranoController.h"
#include "app/control/StatusText.h"
#include "app/settings/SettingsKeys.h"
#include "app/web/JsonWriter.h"
#include "app/web/PageMappings.h"

namespace {

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

// The loudest bin between each pair of neighbouring points of the scale, in whole dB below full
// scale, a byte each: what the page draws needs no finer figure, and the message stays small.
QByteArray spectrumPointsOf(const FrequencyAnalyser::Spectrum& spectrum) {
    QByteArray points;
    if (spectrum.number == 0 || spectrum.sampleRate <= 0.0 || spectrum.decibels.empty()) {
        return points;
    }
    const double hertzPerBin = spectrum.sampleRate / FrequencyAnalyser::windowFrames;
    const size_t lastBin = spectrum.decibels.size() - 1;
    const double span = std::log(spectrumHighestHertz / spectrumLowestHertz);
    const auto binAt = [&](int point) {
        const double hertz = spectrumLowestHertz * std::exp(span * point / spectrumPoints);
        return std::min(static_cast<size_t>(std::lround(hertz / hertzPerBin)), lastBin);
    };
    points.reserve(spectrumPoints);
    size_t from = binAt(0);
    for (int point = 1; point <= spectrumPoints; ++point) {
        const size_t to = std::max(binAt(point), from);
        float loudest = FrequencyAnalyser::floorDecibels;
        for (size_t bin = from; bin <= to; ++bin) {
            loudest = std::max(loudest, spectrum.decibels[bin]);
        }
        points.append(static_cast<char>(std::clamp(std::lround(-loudest), 0L, 255L)));
        from = to;
    }
    return points;
}

QJsonObject mappingObject(const PageMapping& mapping) {
    return {
        {"name", text(mapping.name)},
        {"address", text(mapping.address)},
        {"mode", text(mapping.mode)},
        {"active", mapping.active},
        {"gated", mapping.gated},
        {"bandLowCut", mapping.bandLowCut},
        {"bandHighCut", mapping.bandHighCut},
        {"onThreshold", mapping.onThreshold},
        {"offThreshold", mapping.offThreshold},
        {"hue", mapping.hue},
    };
}

void writeTempo(JsonWriter& json, const ControllerStatus& status) {
    json.key("tempo").beginObject().key("note").text(status.tempoNote);
    if (status.tempo) {
        const TempoStatus& tempo = *status.tempo;
        json.key("bpm").number(tempo.bpm, 1);
        json.key("held").flag(tempo.held).key("tapped").flag(tempo.tapped);
        json.key("beat").number(tempo.beat, 0);
        json.key("beatsSent").number(static_cast<double>(tempo.beatsSent), 0);
    }
    json.endObject();
}

// The presets to choose from and the one the set-up came from, which is shown even when its file
// is gone. The list is cut short so that a crowded folder cannot swell every setup.
QJsonObject presetsObject(const KestranoController& controller) {
    QJsonArray names;
    for (const std::string& name : controller.presetNames()) {
        if (names.size() == static_cast<qsizetype>(mostPresetsShown)) {
            break;
        }
        names.append(text(name));
    }
    const ControllerStatus& status = controller.status();
    return {{"names", names}, {"loaded", text(status.preset)}, {"changed", status.presetChanged}};
}

}  // namespace

QByteArray pageSetupMessage(const KestranoController& controller) {
    QJsonArray mappings;
    for (const PageMapping& mapping : pageMappings(controller)) {
        mappings.append(mappingObject(mapping));
    }
    const QJsonObject setup{
        {"kind", "setup"},
        {"mappings", mappings},
        {"tempoMode", text(controller.settings().text(settings_keys::tempo).value_or("off"))},
        {"presets", presetsObject(controller)},
    };
    return QJsonDocument(setup).toJson(QJsonDocument::Compact);
}

QByteArray pageStateMessage(const KestranoController& controller,
                            const FrequencyAnalyser::Spectrum* spectrum) {
    const ControllerStatus& status = controller.status();
    const std::optional<AudioDevice> device = controller.selectedAudioDevice();
    // A state with a few mappings and its spectrum fits.
    JsonWriter json(1024);
    json.beginObject().key("kind").text("state");
    json.key("input").beginObject().key("device");
    if (device) {
        json.text(device->description);
    } else {
        json.null();
    }
    json.key("level").number(status.inputLevel).key("peak").number(status.samplePeak);
    json.key("clipping").flag(status.clipping).endObject();
    json.key("readings").beginArray();
    for (const PageReading& reading : pageReadings(controller)) {
        json.beginObject().key("position").number(reading.position);
        json.key("on").flag(reading.on).endObject();
    }
    json.endArray();
    writeTempo(json, status);
    json.key("status").text(statusLine(status)).endObject();
    QByteArray message = json.take();
    if (spectrum != nullptr) {
        // JSON text never holds a zero byte: it marks where the text ends and the points begin.
        message.append('\0');
        message.append(spectrumPointsOf(*spectrum));
    }
    return message;
}
