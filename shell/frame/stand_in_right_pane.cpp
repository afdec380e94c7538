#include "shell/frame/stand_in_right_pane.h"

#include <QPainter>

#include "shell/theme/image_list.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_color.h"
#include "shell/theme/theme_font.h"
#include "views/elem_list_box.h"

namespace halvorin {

namespace {
constexpr int kWelcomeBitmap = 311;
constexpr int kWelcomeText = 23;
}  // namespace

StandInRightPane::StandInRightPane(DomainRegistry* registry, QWidget* parent) : QWidget(parent) {
    background_ = ToQColor(LoadThemeColor(423, Rgb(230, 230, 230)));
    text_colour_ = ToQColor(LoadThemeColor(432, Rgb(102, 102, 102)));
    font_ = CreateThemeFont(LoadThemeFont(988, FontSize(22, 700), AppFontFace()));
    if (auto picture = LoadBitmapResource(kWelcomeBitmap))
        picture_ = CImageList(*picture, picture->width(), QColor(0, 255, 0)).Image(0);
    list_ = new CElemListBox(registry, this);
    list_->hide();
    connect(list_, &CElemListBox::OpenSubEnc, this, &StandInRightPane::OpenSubEnc);
}

void StandInRightPane::ShowSubEnclosure(CSubEnc* subenc) {
    list_->ShowSubEnc(subenc);
    list_->show();
}

void StandInRightPane::ShowDashboard() {
    ShowSubEnclosure(nullptr);
}

void StandInRightPane::ClearView() {
    // The list lets go of the enclosure; the welcome screen takes its place.
    list_->ShowSubEnc(nullptr);
    list_->hide();
    update();
}

void StandInRightPane::RefreshView() {
    if (list_->isVisible() && !list_->CurrentSubEnc()) list_->BuildOverviewRows();
}

CSubEnc* StandInRightPane::ShownSubEnclosure() const {
    return list_->isVisible() ? list_->CurrentSubEnc() : nullptr;
}

bool StandInRightPane::ShowsWelcome() const {
    return !list_->isVisible();
}

void StandInRightPane::resizeEvent(QResizeEvent*) {
    list_->setGeometry(rect());
}

void StandInRightPane::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), background_);
    if (picture_.isNull()) return;
    const QPoint at((width() - picture_.width()) / 2, height() / 3 - picture_.height() / 2);
    painter.drawImage(at, picture_);
    painter.setFont(font_);
    painter.setPen(text_colour_);
    const int top = at.y() + picture_.height() + 40;
    painter.drawText(QRect(20, top, width() - 40, height() - top),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, LoadQString(kWelcomeText));
}

}  // namespace halvorin
