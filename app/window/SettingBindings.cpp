#include "app/window/SettingBindings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QValidator>

namespace {

// Host names and IPv4/IPv6 addresses, scope included, and lists of prefixes, while they are
// typed.
const QRegularExpression hostCharacters("[A-Za-z0-9._:%/,-]*");

// Takes what the model takes. Text that may still become a value (a host name being typed) is
// intermediate; for an address name, whose every prefix is a value, anything else is refused.
class SettingTextValidator : public QValidator {
  public:
    // `mapping` tells whose key the control edits now, for the words of a refusal.
    SettingTextValidator(const SettingDefinition& setting, std::function<std::string()> mapping,
                         std::function<void(const QString&)> refused, QObject* parent)
        : QValidator(parent),
          setting_(setting),
          mapping_(std::move(mapping)),
          refused_(std::move(refused)) {}

    State validate(QString& input, int& /*position*/) const override {
        std::string error;
        if (parseSettingValue(setting_, input.toStdString(), error) ||
            (input.isEmpty() && !setting_.absent)) {
            return Acceptable;
        }
        if (setting_.kind == SettingKind::addressName) {
            return Invalid;
        }
        return hostCharacters
                           .match(input, 0, QRegularExpression::NormalMatch,
                                  QRegularExpression::AnchorAtOffsetMatchOption)
                           .capturedLength() == input.size()
                   ? Intermediate
                   : Invalid;
    }

    // Called when editing ends on a text that is no value (Return, leaving the field): the
    // text is not taken, and the technician is told why in --set's words.
    void fixup(QString& input) const override {
        std::string error;
        if (!parseSettingValue(setting_, input.toStdString(), error, TextSource::typed,
                               mapping_())) {
            refused_(QString::fromStdString(error));
        }
    }

  private:
    const SettingDefinition& setting_;
    std::function<std::string()> mapping_;
    std::function<void(const QString&)> refused_;
};

}  // namespace

SettingBindings::SettingBindings(SettingsModel& settings, QWidget* root,
                                 std::function<void(const QString&)> refused)
    : QObject(root), settings_(settings), refused_(std::move(refused)) {
    for (QWidget* control : root->findChildren<QWidget*>()) {
        const QVariant key = control->property("setting");
        if (!key.isValid()) {
            continue;
        }
        const SettingDefinition* setting = findSetting(key.toString().toStdString());
        Q_ASSERT(setting != nullptr);
        if (setting != nullptr) {
            bind(*setting, control);
        }
    }
}

void SettingBindings::bind(const SettingDefinition& setting, QWidget* control) {
    bindings_.push_back({&setting, control});
    // The key is looked up at each change: the control may edit another mapping by then.
    const auto key = [this, &setting] { return keyFor(setting.key); };
    if (auto* spinBox = qobject_cast<QDoubleSpinBox*>(control)) {
        spinBox->setKeyboardTracking(false);
        spinBox->setRange(setting.lowest.value_or(-1.0e6), setting.highest.value_or(1.0e6));
        connect(spinBox, &QDoubleSpinBox::valueChanged, this, [this, &setting, key](double value) {
            take(setting, settings_.change(key(), static_cast<float>(value)));
        });
    } else if (auto* wholeBox = qobject_cast<QSpinBox*>(control)) {
        wholeBox->setKeyboardTracking(false);
        const bool port = setting.kind == SettingKind::port;
        // A port whose absence stands for none (the browser page's) shows and takes 0 as "off".
        const bool mayBeOff = port && !setting.absent;
        wholeBox->setRange(
            port ? (mayBeOff ? 0 : 1) : static_cast<int>(setting.lowest.value_or(0.0)),
            port ? 65535 : static_cast<int>(setting.highest.value_or(60000.0)));
        if (mayBeOff) {
            wholeBox->setSpecialValueText(tr("off"));
        }
        connect(wholeBox, &QSpinBox::valueChanged, this,
                [this, &setting, key, mayBeOff](int value) {
                    take(setting, mayBeOff && value == 0 ? settings_.change(key(), std::nullopt)
                                                         : settings_.change(key(), int64_t{value}));
                });
    } else if (auto* checkBox = qobject_cast<QCheckBox*>(control)) {
        connect(checkBox, &QCheckBox::toggled, this, [this, &setting, key](bool checked) {
            take(setting, settings_.change(key(), checked));
        });
    } else if (auto* comboBox = qobject_cast<QComboBox*>(control);
               comboBox && setting.kind == SettingKind::choice) {
        comboBox->addItems(QString::fromUtf8(setting.choices.data(),
                                             static_cast<qsizetype>(setting.choices.size()))
                               .split('|'));
        connect(comboBox, &QComboBox::currentTextChanged, this,
                [this, &setting, key](const QString& text) {
                    take(setting, settings_.changeFromText(key(), text.toStdString()));
                });
    } else if (comboBox) {
        // The mode: its entries in the order of the numbers it is stored as.
        connect(comboBox, &QComboBox::currentIndexChanged, this, [this, &setting, key](int index) {
            take(setting, settings_.change(key(), int64_t{index}));
        });
    } else if (auto* lineEdit = qobject_cast<QLineEdit*>(control)) {
        const auto mapping = [this, &setting] {
            return setting.scope == SettingScope::mapping ? mapping_ : std::string();
        };
        lineEdit->setValidator(new SettingTextValidator(setting, mapping, refused_, lineEdit));
        const auto apply = [this, &setting, key, lineEdit] {
            const std::string text = lineEdit->text().toStdString();
            if (text != settings_.text(key()).value_or(std::string())) {
                take(setting, settings_.changeFromText(key(), text));
            }
        };
        // An address name takes effect as it is typed, every prefix being one; an address
        // only once it is complete.
        if (setting.kind == SettingKind::addressName) {
            connect(lineEdit, &QLineEdit::textEdited, this, apply);
        } else {
            connect(lineEdit, &QLineEdit::editingFinished, this, apply);
        }
    }
    showIn(bindings_.back());
}

std::string SettingBindings::keyFor(std::string_view row) const {
    const SettingDefinition* setting = findSetting(row);
    return setting != nullptr && setting->scope == SettingScope::mapping ? scopedKey(mapping_, row)
                                                                         : std::string(row);
}

void SettingBindings::setMapping(std::string mapping) {
    mapping_ = std::move(mapping);
    for (const Binding& binding : bindings_) {
        if (binding.setting->scope == SettingScope::mapping) {
            showIn(binding);
        }
    }
}

void SettingBindings::take(const SettingDefinition& setting, std::optional<std::string> problem) {
    if (problem) {
        refused_(QString::fromStdString(*problem));
        show(keyFor(setting.key));
    }
}

void SettingBindings::show(std::string_view key) {
    const std::optional<ScopedKey> scoped = parseScopedKey(key);
    if (!scoped ||
        (scoped->setting->scope == SettingScope::mapping && scoped->mapping != mapping_)) {
        return;
    }
    for (const Binding& binding : bindings_) {
        if (binding.setting == scoped->setting) {
            showIn(binding);
        }
    }
}

void SettingBindings::showIn(const Binding& binding) {
    const std::string key = keyFor(binding.setting->key);
    const QSignalBlocker blocker(binding.control);
    if (auto* spinBox = qobject_cast<QDoubleSpinBox*>(binding.control)) {
        spinBox->setValue(settings_.decimal(key));
    } else if (auto* wholeBox = qobject_cast<QSpinBox*>(binding.control)) {
        wholeBox->setValue(static_cast<int>(settings_.whole(key)));
    } else if (auto* checkBox = qobject_cast<QCheckBox*>(binding.control)) {
        checkBox->setChecked(settings_.flag(key));
    } else if (auto* comboBox = qobject_cast<QComboBox*>(binding.control);
               comboBox && binding.setting->kind == SettingKind::choice) {
        comboBox->setCurrentText(QString::fromStdString(settings_.text(key).value_or("")));
    } else if (comboBox) {
        const int64_t mode = settings_.whole(key);
        comboBox->setCurrentIndex(mode >= 0 && mode < comboBox->count() ? static_cast<int>(mode)
                                                                        : 1);
    } else if (auto* lineEdit = qobject_cast<QLineEdit*>(binding.control)) {
        const QString text = QString::fromStdString(settings_.text(key).value_or(""));
        // Only when different, so that typing keeps its cursor.
        if (lineEdit->text() != text) {
            lineEdit->setText(text);
        }
    }
}
