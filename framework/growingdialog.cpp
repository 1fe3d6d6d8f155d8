#include "framework/growingdialog.h"

#include <QDialog>
#include <algorithm>

void GrowingTemplate::Take(CDialog& dialog, Place place) {
    dialog_ = &dialog;
    place_ = std::move(place);
    QDialog* w = dialog.window();
    templateSize_ = w->size();
    const DialogTemplate& t = dialog.Template();
    units_ = UnitsForFont(TemplateFont(t.fontFace, t.fontPoints));
    placed_.clear();
    for (QWidget* child : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        for (const ControlTemplate& c : t.controls) {
            if (child->geometry() == units_.Map(c.x, c.y, c.cx, c.cy))
                placed_.emplace_back(child, &c);
        }
    }
    w->setMinimumSize(templateSize_);
    w->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    w->setWindowFlag(Qt::WindowMaximizeButtonHint, true);
}

void GrowingTemplate::Arrange() const {
    QDialog* w = dialog_ ? dialog_->window() : nullptr;
    if (!w || !templateSize_.isValid())
        return;
    const int dw = std::max(0, w->width() - templateSize_.width());
    const int dh = std::max(0, w->height() - templateSize_.height());
    for (const auto& [control, c] : placed_) {
        if (!control)
            continue;
        QRect r = units_.Map(c->x, c->y, c->cx, c->cy);
        place_(c->id, r, dw, dh);
        control->setGeometry(r);
    }
}
