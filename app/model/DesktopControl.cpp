#include "app/model/DesktopControl.h"

#include <future>

#include "agent/service/AgentService.h"
#include "app/model/AgentModel.h"
#include "daemon/ControlSocketPath.h"
#include "daemon/ShutdownControlCommands.h"
#include "daemon/UpdateControlCommands.h"

namespace kx {

namespace {

// Issues the code on the main thread through the model and answers with it.
ControlReply pairThroughModel(const std::weak_ptr<AgentModel>& weak, MainQueue& main, AgentService& service,
                              const std::vector<std::string>& arguments) {
    auto host = pairingHost(arguments);
    auto issued = std::make_shared<std::promise<std::optional<PairingPayload>>>();
    auto answer = issued->get_future();
    main.post([weak, host, issued] {
        auto model = weak.lock();
        if (model) model->beginExternalPairing(host);
        issued->set_value(model ? model->pairingPayload() : std::nullopt);
    });
    if (answer.wait_for(DesktopControl::pairWait) != std::future_status::ready)
        throw ControlError("the desktop app did not answer in time");
    auto payload = answer.get();
    if (!payload) throw ControlError("the desktop app could not issue a pairing code");
    return pairingCodeReply(service, *payload);
}

}  // namespace

DesktopControl::DesktopControl(const std::shared_ptr<AgentModel>& model, std::shared_ptr<MainQueue> main,
                               const std::filesystem::path& dataFolder, ListenSettings listen)
    : server_(ControlSocketPath::forDataFolder(dataFolder), dataFolder) {
    AgentService& service = *model->service();
    registerCoreControlCommands(server_, service, status_, listen);
    registerShutdownControlCommands(server_, service.shutdown(), status_);
    registerUpdateControlCommands(server_, service.updates(), status_);
    std::weak_ptr<AgentModel> weak = model;
    // The service outlives the server: the model keeps it for the life of the process.
    server_.addCommand("pair", "pair [HOST]", "issue a new pairing code, shown in the window too",
                       [weak, main, &service](const std::vector<std::string>& arguments) {
                           return pairThroughModel(weak, *main, service, arguments);
                       });
    server_.start();
}

DesktopControl::~DesktopControl() {
    server_.stop();
}

}  // namespace kx
