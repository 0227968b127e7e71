#pragma once
// A single-line edit box whose limit applies to what the user types and
// pastes only: text set by the program is taken whole, as an edit control's
// text limit behaves. (QLineEdit's maxLength would cut set text too.)

#include <QLineEdit>
#include <QValidator>

namespace morvane {

class CQtLimitedEdit final : public QLineEdit {
public:
    explicit CQtLimitedEdit(QWidget* parent);

    // 0 lifts the limit.
    void SetTypingLimit(int chars) { m_limit.chars = chars; }
    int TypingLimit() const { return m_limit.chars; }

private:
    // setText bypasses validation, user edits do not: exactly the split
    // wanted. An edit may still shorten a set text longer than the limit.
    class Limit final : public QValidator {
    public:
        State validate(QString& input, int& pos) const override;
        int chars = 0;
        qsizetype acceptedLength = 0;  // the text's length before the edit
    };
    Limit m_limit;
};

}  // namespace morvane
