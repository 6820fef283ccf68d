#include "backend/platform_choice.h"

#include "device/system_platform.h"
#include "sim/state_file.h"

std::optional<Backend> Backend::Open(const BackendOptions& options, std::string& error)
{
    Backend b;
    if (!options.simulate) {
        b.system_ = CreateSystemHidPlatform();
        b.platform_ = b.system_.get();
        return b;
    }
    b.controller_ = options.controller;
    if (b.controller_ == nullptr) {
        b.owned_ = std::make_shared<sim::VirtualController>();
        b.controller_ = b.owned_.get();
    }
    if (!options.statePath.empty()) {
        b.state_ = sim::StateFile::Open(options.statePath, error, options.waitingForState);
        if (!b.state_) {
            return std::nullopt;
        }
        b.stateUnit_ = b.controller_->FirstUnit().Path();
        b.controller_->Unit(b.stateUnit_).SetMemory(b.state_->Loaded());
    }
    b.platform_ = b.controller_;
    return b;
}

std::unique_ptr<HotplugMonitor> Backend::CreateMonitor() const
{
    if (controller_) {
        return controller_->CreateMonitor();
    }
    return CreateSystemHotplugMonitor(system_.get());
}

bool Backend::SaveState(std::string& error) const
{
    return !state_ || controller_ == nullptr || state_->Save(controller_->Unit(stateUnit_).SettledMemory(), error);
}
