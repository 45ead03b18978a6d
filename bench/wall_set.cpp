// A 6 × 8 wall set in one action against orn312-sim serving device IDs 1..48 on one line: the
// operator connects, lays the wall out in the fast mosaic (specification; every screen 240 × 180
// of a 1920 × 1080 output) and presses "Set whole wall". Prints the time from that press until
// every screen is verified against the pauses the processor needs (per screen: 1000 ms after each
// of its two Set frames, 200 ms after each of the readback's three replies), the number of
// operator actions after the layout, and the UI thread's worst stall meanwhile. Runs N times
// (default 1; a run takes about 2.2 minutes).
//   wall_set [N]
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "FakeUi.h"
#include "TestUtil.h"
#include "device/Connection.h"
#include "resources/MosaicIds.h"
#include "mosaic/SimpleMosaic.h"
#include "mosaic/WallDialog.h"

namespace {

// What the processor needs of one screen's Set and readback, whatever the program's own schedule:
// its time to act after each Set frame, and its pause after each reply.
constexpr int kSetFrames = 2, kSetPauseMs = 1000;
constexpr int kReplies = 3, kReplyPauseMs = 200;
constexpr double kScreenNeedsMs = kSetFrames * kSetPauseMs + kReplies * kReplyPauseMs;

// What the operator does, as mouse presses on the controls, counted.
struct Operator {
    int actions = 0;
    void Click(QWidget* w) {
        ++actions;
        const QPointF at(w->width() / 2.0, w->height() / 2.0);
        const QPointF global = w->mapToGlobal(at);
        QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(w, &press);
        QApplication::sendEvent(w, &release);
    }
    void Type(QLineEdit* e, const QString& text) {
        ++actions;
        e->setText(text);
        e->setModified(true);  // as typed: the operator's own layout
    }
};

struct Run {
    double setMs;
    double pausesMs;
    int actionsAfterLayout;
    int verified;
    double worstStallMs;
};

Run OneWall(int port) {
    bench::QuietSink sink;
    app::Connection connection(sink);
    bench::OpenLoopback(connection, port);
    CSimpleMosaic mosaic(nullptr, connection, false);
    mosaic.show();
    bench::Pump(50);
    namespace ids = mosaic::ids;
    Operator op;
    // Connect reads the output resolution; the specification 6 × 8 rebuilds the grid with every
    // screen the output size, which the operator types in as 240 × 180.
    op.Click(mosaic.Control(ids::kConnect));
    while (mosaic.m_runner->Busy()) {
        bench::Pump(20);
    }
    op.Type(mosaic.ControlAs<QLineEdit>(ids::kRowBox), "6");
    op.Type(mosaic.ControlAs<QLineEdit>(ids::kColumnBox), "8");
    op.Click(mosaic.Control(ids::kSpecOk));
    for (const CSimpleMosaic::ScreenCell& cell : mosaic.m_cells) {
        op.Type(cell.widthBox, "240");
        op.Type(cell.heightBox, "180");
    }

    const int laidOut = op.actions;
    QElapsedTimer clock;
    qint64 last = 0, worst = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - last - 5);
        last = now;
    });
    clock.start();
    tick.start(5);
    op.Click(CWallBar::Of(&mosaic)->setWall);
    CWallDialog* wall = CWallDialog::Of(&mosaic);
    while (wall->m_runner->Busy()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const double took = static_cast<double>(clock.elapsed());
    tick.stop();
    int verified = 0;
    for (const auto& o : wall->m_outcomes) {
        verified += o.result == mosaic::ScreenResult::kVerified ? 1 : 0;
    }
    connection.Shutdown();
    return {took, kScreenNeedsMs * 48, op.actions - laidOut, verified, static_cast<double>(worst)};
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testutil::FakeUi ui;  // the wall window is shown without a loop of its own; boxes are logged
    ui.run = {"CProgress"};
    testutil::SimProcess sim({"--tcp", "0", "--ids", "1-48", "--log", "/dev/null"});
    if (!sim.Started()) {
        std::fprintf(stderr, "wall_set: the simulator did not start\n");
        return 1;
    }
    std::vector<double> ratios;
    for (int i = 0; i < runs; ++i) {
        const Run r = OneWall(sim.tcpPort);
        ratios.push_back(r.setMs / r.pausesMs);
        std::printf(
            "run %d: 6x8 wall set in %.0f ms, the processor's pauses %.0f ms, ratio %.3f "
            "(target <= 1.05); "
            "%d of 48 screens verified; operator actions after the layout: %d (target 1); worst "
            "UI stall %.0f ms\n",
            i + 1, r.setMs, r.pausesMs, r.setMs / r.pausesMs, r.verified, r.actionsAfterLayout,
            r.worstStallMs);
        std::fflush(stdout);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("median ratio %.3f over %d run(s)\n", ratios[ratios.size() / 2], runs);
    for (const auto& box : ui.boxes) {
        std::printf("message: %s\n", box.text.c_str());
    }
    return 0;
}
