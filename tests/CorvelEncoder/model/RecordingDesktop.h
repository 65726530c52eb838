#pragma once

#include "CorvelEncoder/model/DesktopServices.h"

#include <QList>
#include <QStringList>

namespace corvel::testing {

// Records every request; panels answer with what the test put in `nextChoice`.
class RecordingDesktop final : public DesktopServices
{
public:
    void openPanel(const OpenPanelRequest& request,
                   std::function<void(const QStringList&)> chosen) override
    {
        openRequests.append(request);
        if (!nextChoice.isEmpty())
            chosen(nextChoice);
    }
    void savePanel(const SavePanelRequest& request,
                   std::function<void(const QString&)> chosen) override
    {
        saveRequests.append(request);
        if (!nextChoice.isEmpty())
            chosen(nextChoice.first());
    }
    void revealFiles(const QStringList& paths) override { reveals.append(paths); }
    bool isApplicationActive() const override { return active; }
    void requestAttention() override { ++attentionRequests; }
    void activateApplication() override { ++activations; }
    void disableAutomaticTermination(const QString& reason) override
    {
        terminationCalls.append(QStringLiteral("disable:") + reason);
    }
    void enableAutomaticTermination(const QString& reason) override
    {
        terminationCalls.append(QStringLiteral("enable:") + reason);
    }

    QStringList nextChoice;
    QList<OpenPanelRequest> openRequests;
    QList<SavePanelRequest> saveRequests;
    QList<QStringList> reveals;
    bool active = false;
    int attentionRequests = 0;
    int activations = 0;
    QStringList terminationCalls;
};

} // namespace corvel::testing
