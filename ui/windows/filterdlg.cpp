#include "ui/windows/filterdlg.h"

#include "res/dialogs.h"
#include "res/resource.h"

namespace {

uint32_t Packed(const std::array<uint8_t, 4>& b) {
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

void Read(const CIPAddressCtrl& ctrl, std::array<uint8_t, 4>& out) {
    ctrl.GetAddress(out[0], out[1], out[2], out[3]);  // an empty field reads 0
}

}  // namespace

CFilterDlg::CFilterDlg(CWnd* parent) : CDialog(DialogTemplateById(IDD_FILTER_DIALOG), parent) {
    connect(&m_srcAddrCtrl, &CIPAddressCtrl::fieldChanged, this,
            [this] { OnFieldChanged(IDC_SRC_ADDRESS); });
    connect(&m_dstAddrCtrl, &CIPAddressCtrl::fieldChanged, this,
            [this] { OnFieldChanged(IDC_DST_ADDRESS); });
}

void CFilterDlg::DoDataExchange() {
    DDX_Control(IDC_MONITORED_SPIN, m_monitoredSpin);
    DDX_Control(IDC_IGNORED_SPIN, m_ignoredSpin);
    DDX_Control(IDC_SRC_ADDRESS, m_srcAddrCtrl);
    DDX_Control(IDC_DST_ADDRESS, m_dstAddrCtrl);
}

bool CFilterDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_srcAddrCtrl.SetAddress(Packed(m_srcAddr));
    m_dstAddrCtrl.SetAddress(Packed(m_dstAddr));
    m_monitoredSpin.SetBuddy(GetDlgItem(IDC_MONITORED_EDIT));
    m_monitoredSpin.SetRange(0, kPortRangeTop);
    m_monitoredSpin.SetPos(m_monitoredPort);
    m_ignoredSpin.SetBuddy(GetDlgItem(IDC_IGNORED_EDIT));
    m_ignoredSpin.SetRange(0, kPortRangeTop);
    m_ignoredSpin.SetPos(m_ignoredPort);
    return true;
}

void CFilterDlg::OnOK() {
    Read(m_srcAddrCtrl, m_srcAddr);
    Read(m_dstAddrCtrl, m_dstAddr);
    // The low word is the position, or the last valid one when the text is not a number in range.
    m_monitoredPort = static_cast<uint16_t>(m_monitoredSpin.GetPos() & 0xFFFF);
    m_ignoredPort = static_cast<uint16_t>(m_ignoredSpin.GetPos() & 0xFFFF);
    CDialog::OnOK();
}

int CFilterDlg::OnFieldChanged(int id) {
    if (id == IDC_SRC_ADDRESS) {
        Read(m_srcAddrCtrl, m_srcAddr);
    } else if (id == IDC_DST_ADDRESS) {
        Read(m_dstAddrCtrl, m_dstAddr);
    }
    return 0;
}
