#pragma once
// One event as a coloured report.
#include <memory>
#include <string>

#include "framework/dialog.h"
#include "ui/widgets/eventrichedit.h"

class CEventDetailDlg : public CDialog {
    Q_OBJECT
  public:
    explicit CEventDetailDlg(CWnd* parent = nullptr);
    ~CEventDetailDlg() override;

    std::unique_ptr<CEventRichEdit> m_text;
    std::string m_time, m_srcAddr, m_srcPort, m_dstAddr, m_dstPort, m_service, m_flags, m_data;

    bool OnInitDialog() override;

    // Tests: make the text area's creation fail.
    static bool& FailTextAreaForTesting();
};
