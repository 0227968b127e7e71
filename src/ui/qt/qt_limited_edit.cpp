#include "ui/qt/qt_limited_edit.h"

namespace morvane {

CQtLimitedEdit::CQtLimitedEdit(QWidget* parent) : QLineEdit(parent) {
    setValidator(&m_limit);
    // Connected before anyone else: a handler that sets the text again from
    // inside textChanged must leave the innermost (latest) length behind.
    connect(this, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_limit.acceptedLength = text.size(); });
}

QValidator::State CQtLimitedEdit::Limit::validate(QString& input, int&) const {
    if (chars <= 0 || input.size() <= chars || input.size() < acceptedLength) return Acceptable;
    return Invalid;
}

}  // namespace morvane
