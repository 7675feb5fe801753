#include "app/qt/StatusLine.h"

#include "app/qt/TextCodec.h"

namespace tarvex::qt {

StatusLine::StatusLine(QLabel* label)
    : text_([label](const std::string& text) {
          if (label != nullptr) {
              label->setText(ToQString(text));
          }
      }) {}

}  // namespace tarvex::qt
