#include "theme.h"

#include <QtGui/QPalette>
#include <QtWidgets/QApplication>
#include <QtWidgets/QStyleFactory>

namespace kwview {

void applyDarkTheme(QApplication* app)
{
    app->setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QColor window(0x2b, 0x2e, 0x33);
    const QColor base(0x1f, 0x21, 0x24);
    const QColor text(0xdc, 0xdf, 0xe3);
    const QColor disabled(0x7a, 0x80, 0x87);
    const QColor accent(0x3d, 0x8b, 0xd9);
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x37, 0x3b, 0x41));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, accent);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, accent);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabled);
    app->setPalette(palette);
}

}  // namespace kwview
