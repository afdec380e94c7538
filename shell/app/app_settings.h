// The three values the program keeps per user, in section "CONFIG" of its
// QSettings store (on Linux ~/.config/Halvorin/Halvorin.conf):
//   "RunMode"  0 manager, 1 agent (absent: 0)
//   "Clients"  the agent's authorised client names, each followed by "\n"
//   "Domains"  the manager's remote hosts, each followed by "\n"
// and, read at start-up and never written, the manager's TLS files in
// section "TLS": "ca" (the agents' CA), "cert" and "key" (its own).
// Reading never writes; nothing else is stored.
#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>

#include "net/tls/tls_context.h"

namespace halvorin {

class AppSettings {
  public:
    static constexpr const char* kOrganization = "Halvorin";
    static constexpr const char* kApplication = "Halvorin";
    static constexpr const char* kRunMode = "RunMode";
    static constexpr const char* kClients = "Clients";
    static constexpr const char* kDomains = "Domains";
    static constexpr int kMaxClientNames = 512;

    AppSettings();

    // The stored run mode; 0 when absent, -1 when the value is not a number.
    int ReadRunMode() const;
    void WriteRunMode(int run_mode);
    // The stored value as it stands, for saying what was wrong with it.
    QString RunModeText() const;

    // The names of a list value, split at each line feed; the text after
    // the last line feed is a name too when it is not empty.
    QStringList ReadNameList(const QString& value_name) const;
    // Writes the first `max_names` names (all when negative), each followed
    // by a line feed.
    void WriteNameList(const QString& value_name, const QStringList& names, int max_names = -1);

    // The [TLS] files; empty members where a key is absent.
    TlsFiles ReadTlsFiles() const;

    QString FilePath() const { return settings_.fileName(); }

  private:
    QString Key(const QString& value_name) const { return "CONFIG/" + value_name; }

    mutable QSettings settings_;
};

// Splits a stored list value the way ReadNameList does.
QStringList SplitNameList(const QString& value);

}  // namespace halvorin
