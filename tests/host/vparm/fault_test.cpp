// SPDX-License-Identifier: Apache-2.0
// Fault injection over the load state: the Nth call fails as a short or corrupt file would make
// it fail. Every loader must then either take the data whole or leave its object as it was.
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "host/animation/envelopes.h"
#include "host/state/memory_state.h"
#include "host/texture/texture_system.h"
#include "host/vparm/vparm_service.h"

namespace {

using host::state::Format;

// Forwards to a real load state, except that call number `failAt` (from 0) fails.
class FaultyLoad {
public:
    FaultyLoad(const LWLoadState *inner, int failAt) : inner_(inner), failAt_(failAt) {
        rec_ = *inner;
        rec_.readData = this;
        rec_.readI1 = [](void *p, char *v, int n) { return self(p)->counted(v, n, self(p)->inner_->readI1); };
        rec_.readI2 = [](void *p, short *v, int n) { return self(p)->counted(v, n, self(p)->inner_->readI2); };
        rec_.readI4 = [](void *p, int *v, int n) { return self(p)->counted(v, n, self(p)->inner_->readI4); };
        rec_.readU1 = [](void *p, unsigned char *v, int n) {
            return self(p)->counted(v, n, self(p)->inner_->readU1);
        };
        rec_.readU2 = [](void *p, unsigned short *v, int n) {
            return self(p)->counted(v, n, self(p)->inner_->readU2);
        };
        rec_.readU4 = [](void *p, unsigned int *v, int n) {
            return self(p)->counted(v, n, self(p)->inner_->readU4);
        };
        rec_.readFP = [](void *p, float *v, int n) { return self(p)->counted(v, n, self(p)->inner_->readFP); };
        rec_.readStr = [](void *p, char *buf, int max) {
            FaultyLoad *f = self(p);
            if (f->fire()) {
                if (buf && max > 0) buf[0] = 0;
                return -1;
            }
            return f->inner_->readStr(f->inner_->readData, buf, max);
        };
        rec_.findBlk = [](void *p, const LWBlockIdent *list) -> LWID {
            static const LWBlockIdent none[] = {{0, nullptr}};
            FaultyLoad *f = self(p);
            // A failed find still enters an empty block, so the caller's endBlk stays balanced.
            return f->inner_->findBlk(f->inner_->readData, f->fire() ? none : list);
        };
        rec_.endBlk = [](void *p) { self(p)->inner_->endBlk(self(p)->inner_->readData); };
        rec_.depth = [](void *p) { return self(p)->inner_->depth(self(p)->inner_->readData); };
    }
    const LWLoadState *record() const { return &rec_; }
    bool fired() const { return fired_; }

private:
    static FaultyLoad *self(void *p) { return static_cast<FaultyLoad *>(p); }
    bool fire() {
        bool now = calls_++ == failAt_;
        fired_ = fired_ || now;
        return now;
    }
    template <typename T>
    int counted(T *v, int n, int (*read)(void *, T *, int)) {
        if (fire()) {
            for (int i = 0; v && i < n; ++i) v[i] = 0;
            return 0;
        }
        return read(inner_->readData, v, n);
    }

    const LWLoadState *inner_;
    LWLoadState rec_;
    int failAt_, calls_ = 0;
    bool fired_ = false;
};

// Sweeps the failing call over a load until a run with no fault; `outcome` judges each run.
void sweep(const std::vector<uint8_t> &data, Format f, const std::function<bool(const LWLoadState *)> &outcome) {
    for (int n = 0;; ++n) {
        host::state::LoadState load(f, data);
        FaultyLoad faulty(load.record(), n);
        EXPECT_TRUE(outcome(faulty.record())) << "fault at call " << n;
        EXPECT_EQ(load.depth(), 0) << "fault at call " << n;
        if (!faulty.fired()) break;
        ASSERT_LT(n, 10000);
    }
}

class Faults : public ::testing::Test {
protected:
    void TearDown() override {
        host::vparm::clearAll();
        host::texture::clearAll();
        host::animation::clearAll();
    }
};

TEST_F(Faults, EnvelopeLoadIsWholeOrNothing) {
    const LWEnvelopeFuncs &env = *host::animation::envelopeFuncs();
    LWEnvelopeID src = env.create(nullptr, "src", 0);
    host::animation::setKeys(src, {{0, 1}, {1, 2}, {2, 3}});
    for (Format f : {Format::Binary, Format::Text}) {
        host::state::SaveState save(f);
        env.save(src, save.record());
        sweep(save.bytes(), f, [&](const LWLoadState *load) {
            LWEnvelopeID dst = env.create(nullptr, "dst", 0);
            host::animation::setKeys(dst, {{5, 5}});
            LWError err = env.load(dst, load);
            size_t n = host::animation::keys(dst).size();
            env.destroy(dst);
            return err ? n == 1 : n == 3;
        });
    }
}

TEST_F(Faults, TextureLoadIsWholeOrNothing) {
    const LWTextureFuncs &tx = *host::texture::textureFuncs();
    LWTextureID src = tx.create(TRT_SCALAR, "src", nullptr, nullptr);
    host::texture::addLayer(src, TLT_GRAD);
    host::texture::addLayer(src, TLT_IMAGE);
    for (Format f : {Format::Binary, Format::Text}) {
        host::state::SaveState save(f);
        tx.save(src, save.record());
        sweep(save.bytes(), f, [&](const LWLoadState *load) {
            LWTextureID dst = tx.create(TRT_SCALAR, "dst", nullptr, nullptr);
            host::texture::addLayer(dst, TLT_PROC);
            tx.load(dst, load);
            int n = host::texture::layerCount(dst);
            int top = tx.layerType(tx.firstLayer(dst));
            tx.destroy(dst);
            return (n == 1 && top == TLT_PROC) || (n == 2 && top == TLT_IMAGE);
        });
    }
}

TEST_F(Faults, VParmLoadKeepsItsValueUnlessTheHeaderRead) {
    const LWVParmFuncs &vp = *host::vparm::vparmFuncs();
    LWVParmID src = vp.create(LWVP_PERCENT, LWVPDT_PERCENT);
    double k = 0.25;
    vp.setVal(src, &k);
    host::vparm::setEnveloped(src, 0, true);
    for (Format f : {Format::Binary, Format::Text}) {
        host::state::SaveState save(f);
        vp.save(src, save.record());
        sweep(save.bytes(), f, [&](const LWLoadState *load) {
            LWVParmID dst = vp.create(LWVP_PERCENT, LWVPDT_PERCENT);
            double mine = 0.75, out = 0;
            vp.setVal(dst, &mine);
            LWError err = vp.load(dst, load);
            vp.getVal(dst, 0, nullptr, &out);
            int state = vp.getState(dst);
            vp.destroy(dst);
            return err ? out == 0.75 && state == 0 : out == 0.25 && state == LWVPSF_ENV;
        });
    }
}

// Render threads read textured parameters at once; a plug-in input that shades another
// textured parameter re-enters getVal and evaluate on the same thread.
LWVParmID gInner = nullptr;

double reentrantInput(LWTxtrParamDesc *, int, LWMicropol *mp, gParamData) {
    double v = 0;
    host::vparm::vparmFuncs()->getVal(gInner, 0, mp, &v);
    return v;
}
gParamData noTime(void *, LWTxtrParamDesc *, int, LWTime, LWFrame) { return nullptr; }
void noCleanup(LWTxtrParamDesc *, int, gParamData) {}

TEST_F(Faults, ConcurrentReadersReenterSafely) {
    const LWVParmFuncs &vp = *host::vparm::vparmFuncs();
    const LWTextureFuncs &tx = *host::texture::textureFuncs();
    LWTxtrContextID ctx = tx.contextCreate({reentrantInput, noTime, noCleanup});
    tx.contextAddParam(ctx, {"Inner", 0, 1, 2, 4, -1, nullptr, nullptr});

    gInner = vp.create(LWVP_PERCENT, LWVPDT_PERCENT);
    vp.setup(gInner, "inner", nullptr, nullptr, nullptr, "test", nullptr);
    LWTLayerID il = host::texture::addLayer(host::vparm::setTextured(gInner, true), TLT_GRAD);
    host::texture::LayerSettings is;
    is.input = "X Coordinate";
    is.keys = {{0, {0, 0, 0}, 1}, {1, {1, 1, 1}, 1}};
    host::texture::setLayer(il, is);

    LWVParmID outer = vp.create(LWVP_PERCENT, LWVPDT_PERCENT);
    vp.setup(outer, "outer", nullptr, ctx, nullptr, "test", nullptr);
    LWTextureID ot = host::vparm::setTextured(outer, true);
    LWTLayerID ol = host::texture::addLayer(ot, TLT_GRAD);
    host::texture::LayerSettings os;
    os.input = "Inner";
    os.keys = {{0, {0, 0, 0}, 1}, {1, {2, 2, 2}, 1}};
    host::texture::setLayer(ol, os);
    tx.newtime(ot, 0, 0);

    std::vector<double> sums(4, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < sums.size(); ++t)
        threads.emplace_back([&, t] {
            LWMicropol mp;
            vp.initMP(&mp);
            for (int i = 0; i <= 1000; ++i) {
                mp.oPos[0] = mp.wPos[0] = i / 1000.0;
                double v = 0;
                sums[t] += vp.getVal(outer, 0, &mp, &v);
            }
        });
    for (auto &th : threads) th.join();
    // outer = 2 * inner = 2 * x, summed over x = 0, 0.001, ..., 1.
    for (double s : sums) EXPECT_NEAR(s, 2 * 500.5, 1e-9);
    tx.contextDestroy(ctx);
}

}  // namespace
