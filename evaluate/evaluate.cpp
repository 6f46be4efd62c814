#include <cstdio>
#include <cmath>
#include <algorithm>
#include <map>
#include "merge/merger.h"
#include "sim/bscan_simulator.h"
using namespace lumifold;
double med(std::vector<double> v){ std::sort(v.begin(),v.end()); size_t n=v.size(); return n%2? v[n/2] : 0.5*(v[n/2-1]+v[n/2]);}
int main(int argc, char** argv) {
  int w = atoi(argv[1]), h = atoi(argv[2]), n = atoi(argv[3]);
  bool edge = argc > 4 && argv[4][0]=='e';
  bool bad = !(argc > 5);
  const char* names[] = {"ncc","int","kept","prof"};
  // per measure: worst good (max diff), per kind min diff of bad
  double goodDiff[4] = {-1e9,-1e9,-1e9,-1e9}; double goodZ[4] = {0,0,0,0};
  std::map<std::string, double> badDiff[4], badZ[4];
  int wrong = 0;
  for (unsigned seed = 1; seed <= 20; ++seed) {
  SimulationParameters p; p.width=w; p.height=h; p.frames=n; p.seed=seed; p.maxShift = std::min(12, h/2);
  if (bad) p.badFrames = {BadFrame::Blink, BadFrame::Section, BadFrame::Lateral, BadFrame::Dropout};
  BScanSimulator sim(p);
  std::vector<MergeFrame> frames; for (int i=0;i<n;++i) frames.emplace_back(sim.frame(i));
  Merger m(frames);
  Merger::QualityOptions o; o.reject = true; m.setQualityOptions(o);
  if (edge) m.mergeByAnteriorEdge(); else m.mergeByCorrelation();
  auto& qs = m.frameQualities();
  auto val = [&](const FrameQuality& q, int k) { return k==0? q.correlation : k==1 ? q.relativeIntensity : k==2 ? q.keptShare : q.profileCorrelation; };
  for (int k=0;k<4;++k){
    std::vector<double> v; for (auto& q: qs) v.push_back(val(q,k));
    double md = med(v); std::vector<double> d; for(double x: v) d.push_back(fabs(x-md)); double mad = 1.4826*med(d);
    for (auto& q: qs){ double diff = md - val(q,k); double z = diff/std::max(mad,1e-9);
      if (auto b = sim.badFrame(q.frame)) { std::string kn(badFrameName(*b)); if (!badDiff[k].count(kn) || diff < badDiff[k][kn]) badDiff[k][kn]=diff; if (!badZ[k].count(kn) || z < badZ[k][kn]) badZ[k][kn]=z; }
      else { goodDiff[k] = std::max(goodDiff[k], diff); goodZ[k] = std::max(goodZ[k], z);} }
  }
  for (auto& q: qs) if (q.dropped != bool(sim.badFrame(q.frame))) { ++wrong; if (argc>6) printf("seed %u frame %d %s dropped=%d %s\n", seed, q.frame, sim.badFrame(q.frame)? std::string(badFrameName(*sim.badFrame(q.frame))).c_str():"good", q.dropped, q.reason.c_str());}
  }
  printf("wrong %d\n", wrong);
  for (int k=0;k<4;++k){ printf("%s good worst diff %.4f z %.1f |", names[k], goodDiff[k], goodZ[k]); for (auto& [kn, d]: badDiff[k]) printf(" %s %.4f z %.1f", kn.c_str(), d, badZ[k][kn]); printf("\n"); }
}
