#pragma once
// Simulated clerks of one office against one application server URL (or a
// balancer in front of several). Each clerk has its own kept-alive
// connection and a thread, and does what the screen does: a search of its
// branch (statuses "12", entry dates of the last three days), a think time,
// one to three writes on the rows it found (a delivery date or an issuing
// description), each after a shorter pause, then the next search.
//
// Clerks start spread over the ramp-up, so that "first answer" is the wait
// of a clerk who opens the screen while the others work.

#include <string>
#include <vector>

namespace opd::bench {

struct OfficeLoadConfig
{
    std::string url;              // "http://127.0.0.1:8431"
    int clerks = 16;
    double seconds = 8;           // the measured run, ramp-up included
    double rampSeconds = 1;       // clerks start evenly over this time
    double thinkMs = 500;         // mean pause before writes; uniform 0.5x-1.5x
    int branches = 10;            // clerk i works on branch (i mod branches) + 1
    std::string token;            // "Authorization: Bearer <token>" when not empty
    double callTimeoutSeconds = 0; // 0: seconds + 3
};

struct OfficeLoadResult
{
    int clerks = 0;
    double elapsedSeconds = 0;
    std::vector<double> firstAnswerMs;    // one per clerk; unanswered: the time waited
    std::vector<double> searchMs;         // every answered search
    std::vector<double> writeMs;          // every answered write
    long long calls = 0;                  // answered with ok:true within the run
    long long failures = 0;               // no answer, HTTP error, error or ok:false
    int unanswered = 0;                   // clerks whose first call never got an answer

    double callsPerSecond() const { return elapsedSeconds > 0 ? double(calls) / elapsedSeconds : 0; }
    // Nearest-rank percentile (q in 0..1) of a sample; 0 when empty.
    static double percentile(std::vector<double> values, double q);
};

// Runs the clerks and waits for all of them. Never throws for the server's
// faults: they are counted in the result.
OfficeLoadResult runOfficeLoad(const OfficeLoadConfig &config);

} // namespace opd::bench
