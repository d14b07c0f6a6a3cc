// A console reporter that also keeps every run's CPU and real time per
// iteration (the median of repetitions when there are any), so that a
// benchmark program can print ratios of the same run after its runs.
#ifndef KATRACE_BENCH_MEDIAN_REPORTER_H
#define KATRACE_BENCH_MEDIAN_REPORTER_H

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class median_reporter_c : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median") continue;
            const std::string name = r.run_name.str();
            cpu_[name] = r.GetAdjustedCPUTime();
            real_[name] = r.GetAdjustedRealTime();
            noted(name, r);
        }
    }
    // A run's times by its name without the aggregate's ("BM_X/threads:2");
    // 0 for a run that did not take place.
    double cpu(const std::string& name) const { return find(cpu_, name); }
    double real(const std::string& name) const { return find(real_, name); }

protected:
    // Called for each kept run, for what a program keeps beside the times.
    virtual void noted(const std::string& /*name*/, const Run& /*run*/) {}

private:
    static double find(const std::map<std::string, double>& m, const std::string& name) {
        auto it = m.find(name);
        return it == m.end() ? 0.0 : it->second;
    }
    std::map<std::string, double> cpu_, real_;
};

#endif
