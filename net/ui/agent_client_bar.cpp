#include "net/ui/agent_client_bar.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

#include "shell/theme/string_resources.h"
#include "shell/theme/theme_color.h"
#include "shell/theme/theme_font.h"

namespace halvorin {

namespace {

constexpr int kHeaderText = 284;

}  // namespace

CAgentClientBar::CAgentClientBar(QWidget* parent)
    : QWidget(parent), list_(new CClientListBox(this)) {
    font_ = LoadAppFont(979, FontSize(14, 700));
    band_ = LoadThemeQColor(756, Rgb(0x43, 0xa0, 0xae));
    text_ = LoadThemeQColor(757, Rgb(0xff, 0xff, 0xff));
    line_ = LoadThemeQColor(758, Rgb(0xcc, 0xcc, 0xcc));
}

int CAgentClientBar::HeaderHeight() const {
    return std::max(QFontMetrics(font_).height() + 6, 28);
}

void CAgentClientBar::resizeEvent(QResizeEvent*) {
    const int header = HeaderHeight();
    list_->setGeometry(0, header, width(), std::max(0, height() - header));
}

void CAgentClientBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int header = HeaderHeight();
    p.fillRect(QRect(0, 0, width(), header - 1), band_);
    p.fillRect(QRect(0, header - 1, width(), 1), line_);
    p.setFont(font_);
    p.setPen(text_);
    p.drawText(QRect(12, 0, width() - 12, header - 1), Qt::AlignLeft | Qt::AlignVCenter,
               LoadQString(kHeaderText));
}

}  // namespace halvorin
