// A dark look, as camera viewers have it: the picture stands out and the
// controls recede.
#ifndef KWVIEW_THEME_H
#define KWVIEW_THEME_H

class QApplication;

namespace kwview {

void applyDarkTheme(QApplication* app);

}  // namespace kwview

#endif  // KWVIEW_THEME_H
