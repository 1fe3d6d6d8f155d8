#include "ui/windows/eventdetaildlg.h"

#include "framework/gbk.h"
#include "res/dialogs.h"
#include "res/resource.h"

namespace {

constexpr unsigned kBlack = 0x000000;
constexpr unsigned kBlue = 0xFF0000;  // 0x00BBGGRR
constexpr unsigned kTextAreaStyle = 0x52B01844;

std::string Gbk(const char* utf8) {
    return ToGbk(QString::fromUtf8(utf8));
}

}  // namespace

CEventDetailDlg::CEventDetailDlg(CWnd* parent)
    : CDialog(DialogTemplateById(IDD_EVENT_DETAIL), parent),
      m_makeTextArea([](CEventRichEdit& area, const QRect& rect, QWidget* window) {
          area.Create(kTextAreaStyle, rect, window, IDC_DETAIL_AREA);
      }) {}

CEventDetailDlg::~CEventDetailDlg() = default;

bool CEventDetailDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    QWidget* placeholder = GetDlgItem(IDC_DETAIL_AREA);
    const QRect rect = placeholder ? placeholder->geometry() : QRect();
    m_text = std::make_unique<CEventRichEdit>();
    m_makeTextArea(*m_text, rect, window());

    CEventRichEdit& t = *m_text;
    t.AppendColoredText(Gbk("\t\t\t监控事件\n"), kBlack);
    t.AppendColoredText(std::string(50, '=') + "\n\n", kBlack);
    const std::pair<const char*, const std::string*> fields[] = {
        {"时  间:\t", &m_time},     {"源地址: ", &m_srcAddr},   {"源端口: ", &m_srcPort},
        {"目的地址: ", &m_dstAddr}, {"目的端口: ", &m_dstPort}, {"协议: ", &m_service},
        {"TCP标志: ", &m_flags},
    };
    for (const auto& [label, value] : fields) {
        t.AppendColoredText(Gbk(label), kBlack);
        t.AppendStyledText(*value, kBlack, 0, 0);
        t.AppendColoredText("\n", kBlack);
    }
    t.AppendColoredText(Gbk("数据: \n"), kBlack);
    t.AppendColoredText("======>", kBlue);
    t.AppendStyledText(m_data, kBlue, 0, 0);
    return true;
}
