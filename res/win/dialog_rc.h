// Expands a dialog template source (res/dialogs/*.def) into a resource
// script's DIALOGEX statement. Position 0, 0: each window places itself.
#pragma once

#define DIALOG_BEGIN(id, caption, width, height, style, exStyle, face, points, weight, italic, charset) \
    id DIALOGEX 0, 0, width, height                                                                    \
    STYLE style                                                                                         \
    EXSTYLE exStyle                                                                                     \
    CAPTION caption                                                                                     \
    FONT points, face, weight, italic, charset                                                         \
    BEGIN
#define DIALOG_CONTROL(id, kind, className, text, x, y, width, height, style, exStyle) \
    CONTROL text, id, className, style, x, y, width, height, exStyle
#define DIALOG_END() END
