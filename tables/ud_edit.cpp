#include "tables/ud_edit.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace mr4 {
namespace {

constexpr int kFieldHeight = 14;  // [reference px]
constexpr int kSpinWidth = 12;    // [reference px]
constexpr int kCheckWidth = 14;   // [reference px]

}  // namespace

CUDEdit::CUDEdit(QWidget* parent, const ParamDescriptor& field, const LayoutScale& scale,
                 Changed changed)
    : QWidget(parent), field_(field), changed_(std::move(changed)) {
  int x = 0;
  const int height = scale.Y(kFieldHeight);
  if (field_.on_flag) {
    on_box_ = new QCheckBox(this);
    on_box_->setObjectName(QString::number(field_.id_base + 3));
    on_box_->setGeometry(0, 0, scale.X(kCheckWidth), height);
    on_box_->setChecked(*field_.on_flag != 0);
    connect(on_box_, &QCheckBox::toggled, this, [this](bool on) {
      *field_.on_flag = on ? 1 : 0;
      if (changed_) changed_(-1);
    });
    x += scale.X(kCheckWidth);
  }
  if (field_.label_width > 0) {
    label_ = new QLabel(QString::fromUtf8(field_.label), this);
    label_->setGeometry(x, 0, scale.X(field_.label_width), height);
    x += scale.X(field_.label_width);
  }
  box_ = new QLineEdit(this);
  box_->setObjectName(QString::number(field_.id_base));
  box_->setGeometry(x, 0, scale.X(field_.edit_width), height);
  box_->setAlignment(field_.type() == 9 ? Qt::AlignLeft : Qt::AlignRight);
  x += scale.X(field_.edit_width);
  connect(box_, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (redisplaying_) return;
    if (ReadParamText(field_, text.toStdString()) && changed_) changed_(-1);
  });
  if (field_.type() != 9) {
    const int half = height / 2;
    up_ = new QToolButton(this);
    up_->setObjectName(QString::number(field_.id_base + 1));
    up_->setArrowType(Qt::UpArrow);
    up_->setAutoRepeat(true);
    up_->setGeometry(x, 0, scale.X(kSpinWidth), half);
    down_ = new QToolButton(this);
    down_->setArrowType(Qt::DownArrow);
    down_->setAutoRepeat(true);
    down_->setGeometry(x, half, scale.X(kSpinWidth), height - half);
    connect(up_, &QToolButton::clicked, this, [this] { Spin(true); });
    connect(down_, &QToolButton::clicked, this, [this] { Spin(false); });
    x += scale.X(kSpinWidth);
  }
  setGeometry(scale.X(field_.x), scale.Y(field_.row), x, height);
  Redisplay();
}

void CUDEdit::Redisplay() {
  const QString text = QString::fromStdString(ParamText(field_));
  if (on_box_ && on_box_->isChecked() != (*field_.on_flag != 0)) {
    const QSignalBlocker quiet(on_box_);
    on_box_->setChecked(*field_.on_flag != 0);
  }
  if (box_->text() == text) return;
  redisplaying_ = true;
  box_->setText(text);
  box_->setCursorPosition(static_cast<int>(text.size()));
  redisplaying_ = false;
}

int CUDEdit::Spin(bool up) {
  const int code = spin_rule_ ? spin_rule_(up) : SpinParam(field_, up, spin_step_);
  Redisplay();
  if (changed_) changed_(code);
  return code;
}

}  // namespace mr4
