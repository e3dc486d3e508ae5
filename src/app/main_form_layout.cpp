#include "app/main_form_layout.h"

#include "app/user_texts.h"
#include "platform/codepage.h"

platform::WindowLayout MainFormLayout() {
  platform::WindowLayout form;
  form.caption = platform::GbkToUtf8(texts::kAppTitle);
  form.clientWidth = layout::kClientWidth;
  form.clientHeight = layout::kClientHeight;
  form.backgroundColor = layout::kBackgroundColor;
  form.fontName = platform::GbkToUtf8(texts::kFontName);
  form.fontCharset = layout::kFontCharsetGb2312;
  form.fontHeight = layout::kFontHeight;
  form.bevel = layout::kBevel;
  form.button = layout::kButton;
  form.buttonCaption = platform::GbkToUtf8(texts::kCancelButton);
  form.buttonTextColor = layout::kButtonTextColor;
  form.label = layout::kLabel;
  form.labelCaption = platform::GbkToUtf8(texts::kPreparing);
  form.progressBar = layout::kProgressBar;
  form.progressMin = layout::kProgressMin;
  form.progressMax = layout::kProgressMax;
  form.progressPosition = layout::kProgressPosition;
  return form;
}
