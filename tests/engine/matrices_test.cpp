// Matrix inversion, transforms and the ray/plane helpers of the match view.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "ruvezor/util/Matrices.h"

namespace {

void expect_identity(const Matrix4& m, float tol)
{
    for (int i = 0; i < 16; i++) EXPECT_NEAR(m[i], (i % 5 == 0) ? 1.0f : 0.0f, tol) << "element " << i;
}

void expect_matrix(const Matrix4& a, const Matrix4& b, float tol)
{
    for (int i = 0; i < 16; i++) EXPECT_NEAR(a[i], b[i], tol) << "element " << i;
}

}  // namespace

TEST(Matrices, DeterminantsAndSingularThreshold)
{
    EXPECT_FLOAT_EQ(Matrix2(1, 2, 3, 4).getDeterminant(), -2.0f);
    EXPECT_FLOAT_EQ(Matrix3(2, 0, 1, 1, 3, 2, 1, 1, 2).getDeterminant(), 6.0f);
    EXPECT_FLOAT_EQ(Matrix4(1, 2, 0, 0, 3, 4, 0, 0, 0, 0, 2, 1, 0, 0, 1, 3).getDeterminant(), -10.0f);

    // determinant 1e-6: every path gives the identity
    Matrix2 a(1e-3f, 0, 0, 1e-3f);
    a.invert();
    EXPECT_EQ(a[0], 1.0f);
    Matrix3 b(1e-3f, 0, 0, 0, 1e-3f, 0, 0, 0, 1);
    b.invert();
    EXPECT_EQ(b[0], 1.0f);
    Matrix4 affine;
    affine.scale(1e-2f).invert();
    expect_identity(affine, 0.0f);
    Matrix4 general(1e-3f, 0, 0, 0, 0, 1e-3f, 0, 0, 0, 0, 1, 0, 0, 0, 0.5f, 1);
    general.invert();
    expect_identity(general, 0.0f);

    // determinant 1e-4: the true inverse
    Matrix3 t(1e-2f, 0, 0, 0, 1e-2f, 0, 0, 0, 1);
    t.invert();
    EXPECT_NEAR(t[4], 100.0f, 1e-3f);
    Matrix4 u(0.1f, 0, 0, 0, 0, 0.1f, 0, 0, 0, 0, 0.1f, 0, 0, 0, 0, 0.1f);
    Matrix4 p = u;
    u.invert();
    p.invertProjective();
    for (int i = 0; i < 4; i++) EXPECT_NEAR(u[i * 5], 10.0f, 1e-4f);
    expect_matrix(p, u, 1e-4f);
}

TEST(Matrices, TranslationAndItsInverse)
{
    Matrix4 m;
    m.translate(1, 0, 0);
    EXPECT_EQ(m[3], 1.0f);
    Vector3 o = m * Vector3{0, 0, 0};
    EXPECT_EQ(o.x, 1.0f);
    EXPECT_EQ(o.y, 0.0f);

    Matrix4 t;
    t.translate(Vector3{2, 3, 4}).invert();
    Matrix4 want;
    want.translate(-2, -3, -4);
    expect_matrix(t, want, 0.0f);

    // transforms multiply onto the left: a later scale scales the translation too
    Matrix4 st;
    st.translate(1, 2, 3).scale(2);
    EXPECT_EQ(st[3], 2.0f);
    EXPECT_EQ(st[11], 6.0f);
    Matrix4 ts;
    ts.scale(2, 3, 4).translate(1, 2, 3);
    EXPECT_EQ(ts[3], 1.0f);
    EXPECT_EQ(ts[10], 4.0f);

    Matrix4 n(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    n.transpose();
    EXPECT_EQ(n[1], 5.0f);
    EXPECT_EQ(n[3], 13.0f);
}

TEST(Matrices, EveryInversePathUndoesTheMatrix)
{
    std::mt19937 rng(108);
    std::uniform_real_distribution<float> d(-2.0f, 2.0f);
    for (int iter = 0; iter < 200; iter++) {
        Matrix4 g;
        for (int i = 0; i < 16; i++) g[i] = d(rng) + (i % 5 == 0 ? 3.0f : 0.0f);  // well away from singular
        Matrix4 a = g, b = g;
        expect_identity(a.invertGeneral() * g, 2e-4f);
        expect_identity(b.invertProjective() * g, 2e-4f);

        Matrix4 f = g;
        f[12] = f[13] = f[14] = 0.0f;
        f[15] = 1.0f;
        Matrix4 fi = f;
        expect_identity(f * fi.invert(), 2e-4f);
        EXPECT_EQ(fi[15], 1.0f);

        Matrix4 e;
        e.rotate((float)(rng() % 360), 0.6f, 0.0f, 0.8f).rotateX(33.0f).translate(1.5f, -2.0f, 7.0f);
        Matrix4 ei = e;
        expect_identity(ei.invertEuclidean() * e, 1e-5f);
    }
}

TEST(Matrices, Rotations)
{
    Matrix4 z;
    z.rotateZ(90);
    float c = cosf(90 * 0.017453294f), s = sinf(90 * 0.017453294f);
    EXPECT_EQ(z[0], c);
    EXPECT_EQ(z[1], -s);
    EXPECT_EQ(z[4], s);
    EXPECT_EQ(z[5], c);
    Vector3 v = z * Vector3{1, 0, 0};
    EXPECT_NEAR(v.x, 0.0f, 1e-6f);
    EXPECT_NEAR(v.y, 1.0f, 1e-6f);
    v = Matrix4().rotateX(90) * Vector3{0, 1, 0};
    EXPECT_NEAR(v.z, 1.0f, 1e-6f);
    v = Matrix4().rotateY(90) * Vector3{0, 0, 1};
    EXPECT_NEAR(v.x, 1.0f, 1e-6f);

    // rotation about a unit axis agrees with the axis forms, on top of other transforms
    for (float a : {17.0f, 90.0f, 211.0f}) {
        Matrix4 base;
        base.translate(3, 1, 2).scale(2, 1, 0.5f);
        expect_matrix(Matrix4(base).rotate(a, Vector3{0, 0, 1}), Matrix4(base).rotateZ(a), 1e-5f);
        expect_matrix(Matrix4(base).rotate(a, 1, 0, 0), Matrix4(base).rotateX(a), 1e-5f);
        expect_matrix(Matrix4(base).rotate(a, 0, 1, 0), Matrix4(base).rotateY(a), 1e-5f);
    }

    // the match view: rotate, scale, translate, and map a point back
    Matrix4 to_world;
    to_world.rotateZ(30).scale(1.5f).translate(Vector3{-100, 40, 0});
    Matrix4 to_screen = to_world;
    to_screen.invert();
    Vector3 back = to_screen * (to_world * Vector3{123, -45, 0});
    EXPECT_NEAR(back.x, 123.0f, 1e-3f);
    EXPECT_NEAR(back.y, -45.0f, 1e-3f);
}

TEST(Matrices, VectorsAndRayPlane)
{
    CVector3 a{1, 2, 3}, b{4, -5, 6};
    CVector3 d = Vector(a, b);
    EXPECT_EQ(d.x, -3.0f);
    EXPECT_EQ(d.y, 7.0f);
    EXPECT_EQ(AddVector(a, b).y, -3.0f);
    EXPECT_EQ(DivideVectorByScaler(b, 2).x, 2.0f);
    EXPECT_EQ(Cross(CVector3{1, 0, 0}, CVector3{0, 1, 0}).z, 1.0f);
    CVector3 c = Cross(a, b);
    EXPECT_EQ(dot(c, a), 0.0f);
    EXPECT_EQ(dot(c, b), 0.0f);
    EXPECT_EQ(dot(a, b), 12.0f);
    CVector3 n = Normalize(CVector3{3, 0, 4});
    EXPECT_FLOAT_EQ(n.x, 0.6f);
    EXPECT_FLOAT_EQ(n.z, 0.8f);
    EXPECT_FALSE(std::isfinite(Normalize(CVector3{0, 0, 0}).x));

    CVector3 origin{0, 0, 0}, up{0, 0, 1};
    EXPECT_FLOAT_EQ(intersectRayPlane(CVector3{0, 0, 5}, CVector3{0, 0, -1}, origin, up), 5.0f);
    EXPECT_EQ(intersectRayPlane(CVector3{0, 0, 5}, CVector3{1, 0, 0}, origin, up), -1.0f);
    CVector3 dir = Normalize(CVector3{1, 1, -2});
    float t = intersectRayPlane(CVector3{2, 3, 10}, dir, CVector3{7, 7, 4}, up);
    EXPECT_NEAR(10.0f + t * dir.z, 4.0f, 1e-5f);
}
