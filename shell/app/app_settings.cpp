#include "shell/app/app_settings.h"

namespace halvorin {

AppSettings::AppSettings()
    : settings_(QSettings::NativeFormat, QSettings::UserScope, kOrganization, kApplication) {}

int AppSettings::ReadRunMode() const {
    const QVariant value = settings_.value(Key(kRunMode));
    if (!value.isValid()) return 0;
    bool ok = false;
    const int run_mode = value.toString().trimmed().toInt(&ok);
    return ok ? run_mode : -1;
}

QString AppSettings::RunModeText() const {
    return settings_.value(Key(kRunMode)).toString();
}

void AppSettings::WriteRunMode(int run_mode) {
    settings_.setValue(Key(kRunMode), run_mode);
    settings_.sync();
}

TlsFiles AppSettings::ReadTlsFiles() const {
    auto path = [&](const char* key) {
        return settings_.value(QString("TLS/") + key).toString().trimmed().toStdString();
    };
    return TlsFiles{path("ca"), path("cert"), path("key")};
}

QStringList AppSettings::ReadNameList(const QString& value_name) const {
    return SplitNameList(settings_.value(Key(value_name)).toString());
}

void AppSettings::WriteNameList(const QString& value_name, const QStringList& names,
                                int max_names) {
    QString value;
    const qsizetype count =
        max_names < 0 ? names.size() : std::min<qsizetype>(names.size(), max_names);
    for (qsizetype i = 0; i < count; ++i)
        value += names[i] + '\n';
    settings_.setValue(Key(value_name), value);
    settings_.sync();
}

QStringList SplitNameList(const QString& value) {
    QStringList names = value.split('\n');
    // A value written by hand may lack the final line feed; its last name
    // is still a name.
    if (names.last().isEmpty()) names.removeLast();
    return names;
}

}  // namespace halvorin
