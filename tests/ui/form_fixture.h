#pragma once

#include "data/number_text.h"
#include "ui/main_window.h"

#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

namespace dravo2::testing {

// Keeps the messages the window would show in a box.
class RecordingReporter : public ErrorReporter {
public:
    void Report(const QString& message) override { Messages.push_back(message.toStdString()); }
    std::vector<std::string> Messages;
};

// Answers the file dialogs from a script; an empty answer is a cancel.
class ScriptedDialogs : public FileDialogs {
public:
    QString OpenExperiment(int& filterIndex) override {
        OfferedFilter = filterIndex;
        if (OpenAnswers.empty()) {
            return {};
        }
        auto [name, filter] = OpenAnswers.front();
        OpenAnswers.pop_front();
        if (!name.isEmpty()) {
            filterIndex = filter;
        }
        return name;
    }
    QString SaveResult(const QString& name) override {
        OfferedName = name;
        if (SaveAnswers.empty()) {
            return {};
        }
        QString answer = SaveAnswers.front();
        SaveAnswers.pop_front();
        return answer;
    }
    std::deque<std::pair<QString, int>> OpenAnswers;
    std::deque<QString> SaveAnswers;
    int OfferedFilter = 0;
    QString OfferedName;
};

class FormTest : public ::testing::Test {
protected:
    RecordingReporter Reporter;
    ScriptedDialogs Dialogs;
    std::unique_ptr<TForm1> Form = std::make_unique<TForm1>(Reporter, Dialogs);

    // One tick of the timer, as the event loop would deliver it.
    void Tick() {
        Form->Guarded([this] { Form->Timer1Timer(); });
    }
    // Ticks while the timer is on; returns the ticks fired.
    int RunSweep(int limit = 100000) {
        int ticks = 0;
        while (Form->Controls().Timer1->isActive() && ticks < limit) {
            Tick();
            ++ticks;
        }
        return ticks;
    }
    void Start() { Form->Controls().BitBtn1_Start->click(); }
    double Sim(std::int32_t column, std::int32_t row) const {
        return Form->Model().Loop().Simulation->SimTable.At(column, row);
    }
    std::string Caption(const QWidget* widget) const;
};

} // namespace dravo2::testing
