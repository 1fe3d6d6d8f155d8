#pragma once
// One event as a coloured report.
#include <QRect>
#include <functional>
#include <memory>
#include <string>
#include <utility>

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

    // Seam: makes the text area in place of its placeholder (a test's may fail).
    using TextAreaMaker =
        std::function<void(CEventRichEdit& area, const QRect& rect, QWidget* window)>;
    void SetTextAreaMaker(TextAreaMaker make) { m_makeTextArea = std::move(make); }

  private:
    TextAreaMaker m_makeTextArea;
};
