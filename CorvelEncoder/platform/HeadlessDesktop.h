#pragma once

#include "CorvelEncoder/model/DesktopServices.h"

namespace corvel {

// Desktop services for a process without a window (the command line, benchmarks): panels
// are never confirmed, nothing is revealed and no attention is asked for.
class HeadlessDesktop : public DesktopServices
{
public:
    void openPanel(const OpenPanelRequest&, std::function<void(const QStringList&)>) override {}
    void savePanel(const SavePanelRequest&, std::function<void(const QString&)>) override {}
    void revealFiles(const QStringList&) override {}
    bool isApplicationActive() const override { return true; }
    void requestAttention() override {}
    void activateApplication() override {}
    void disableAutomaticTermination(const QString&) override {}
    void enableAutomaticTermination(const QString&) override {}
};

} // namespace corvel
