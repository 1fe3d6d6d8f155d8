#pragma once
// The filter dialog: a source and a destination address, a port to watch
// and a port to ignore.
#include <array>
#include <cstdint>

#include "framework/dialog.h"
#include "framework/ipaddress.h"
#include "framework/spinbutton.h"

class CFilterDlg : public CDialog {
    Q_OBJECT
  public:
    explicit CFilterDlg(CWnd* parent = nullptr);

    std::array<uint8_t, 4> m_srcAddr{};
    std::array<uint8_t, 4> m_dstAddr{};
    uint16_t m_monitoredPort = 0;
    uint16_t m_ignoredPort = 0;
    CSpinButtonCtrl m_monitoredSpin;
    CSpinButtonCtrl m_ignoredSpin;
    CIPAddressCtrl m_srcAddrCtrl;
    CIPAddressCtrl m_dstAddrCtrl;

    void DoDataExchange() override;
    bool OnInitDialog() override;
    void OnOK() override;
    int OnFieldChanged(int id);

    static constexpr int kPortRangeTop = 32765;
};
