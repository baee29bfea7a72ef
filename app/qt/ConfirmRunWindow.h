#pragma once

#include <QWidget>
#include <functional>

#include "app/model/AgentModel.h"

namespace kx {

// Asks the person at the computer whether a dangerous saved command a phone asked for may run.
// The model takes the question down after its time; closing the window means "Don't run".
class ConfirmRunWindow : public QWidget {
public:
    ConfirmRunWindow(const PendingConfirmation& question, std::function<void(bool run)> answer);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void reply(bool run);
    std::function<void(bool run)> answer_;
};

}  // namespace kx
