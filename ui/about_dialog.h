// The About box: the program's name, version and icon in a small modal box, made for each showing.
#pragma once

#include "frame/message_map.h"
#include "frame/window.h"

#include <array>

namespace ui {

class CAboutDialog : public CDialogBase {
public:
    CAboutDialog();

    LRESULT OnInitDialog(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnCloseCommand(UINT message, WPARAM wParam, LPARAM lParam);

    static const std::array<MessageMapRow<CAboutDialog>, 3> messageMap;

protected:
    bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
};

} // namespace ui
