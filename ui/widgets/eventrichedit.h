#pragma once
// The detail window's text area: appends coloured runs of GBK text.
#include <string_view>

#include "framework/richedit.h"

class CEventRichEdit : public CRichEditCtrl {
    Q_OBJECT
  public:
    // Colours are 0x00BBGGRR.
    void AppendColoredText(std::string_view text, unsigned color);
    void AppendStyledText(std::string_view text, unsigned color, int underline, int bold);

  protected:
    bool OnCreate() override;
};
