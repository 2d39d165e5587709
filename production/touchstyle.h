#pragma once

#include <QProxyStyle>

/// The station's style: Fusion, with targets a finger can hit. Buttons of message boxes, combo boxes and
/// the rows of their lists, and edit fields ask for at least TouchTarget pixels of height (about 9 mm on
/// a 15" 1024 x 768 panel at 100 %, more at a larger panel scale); everything else is Fusion's own.
class TouchStyle : public QProxyStyle
{
    Q_OBJECT
public:
    static constexpr int TouchTarget = 30;
    static constexpr int DialogButtonWidth = 96;

    /// Takes ownership of @p base (Fusion when null).
    explicit TouchStyle(QStyle *base = nullptr);

    QSize sizeFromContents(
        ContentsType type, const QStyleOption *option, const QSize &size, const QWidget *widget) const override;
};
