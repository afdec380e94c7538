#include "tools/render_windows/render_agent_mode.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <QApplication>
#include <QKeyEvent>
#include <QSettings>
#include <cstring>

#include "net/ui/agent_wnd.h"
#include "net/ui/client_list_box.h"
#include "shell/app/app_settings.h"
#include "shell/theme/string_resources.h"
#include "tools/render_windows/render_output.h"

namespace halvorin {

namespace {

AGENT_NOTIFY ConnectedNotice(const std::u16string& name, const char* address, uint16_t port) {
    AGENT_NOTIFY notice;
    notice.kind = kClientAuthorized;
    std::copy(name.begin(), name.end(), notice.client_name);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    inet_pton(AF_INET, address, &peer.sin_addr);
    std::memcpy(notice.peer_address, &peer, sizeof peer);
    notice.address_length = sizeof peer;
    return notice;
}

void StoreClients(const QStringList& names) {
    AppSettings().WriteNameList(AppSettings::kClients, names);
}

bool Save(CAgentWnd& window, const QString& path) {
    QApplication::processEvents();
    if (!ShapedSnapshot(window).save(path)) return false;
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

bool RenderAgentMode(const QString& prefix) {
    const QString title = LoadQString(22);
    StoreClients({"STORAGE-MGR", "backup-01", "ops-console"});
    bool saved = false;
    {
        CAgentWnd window(title, /*use_tray=*/true);
        window.List()->OnNotify(ConnectedNotice(u"backup-01", "192.168.10.24", 50412));
        saved = Save(window, prefix + "agent-wnd-clients.png");
        window.List()->OnCommand(CClientListBox::kAddCommand);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, "Backup-01");
        QApplication::sendEvent(window.List(), &key);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(window.List(), &enter);
        saved = saved && Save(window, prefix + "agent-wnd-refused.png");
    }
    StoreClients({});
    {
        CAgentWnd window(title, /*use_tray=*/true);
        saved = saved && Save(window, prefix + "agent-wnd-empty.png");
    }
    {
        CAgentWnd window(title, /*use_tray=*/false);
        saved = saved && Save(window, prefix + "agent-wnd-no-tray.png");
    }
    return saved;
}

}  // namespace halvorin
