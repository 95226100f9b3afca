// Matrices: small float matrix and vector helpers for the match view.
#include "ruvezor/util/Matrices.h"

#include <cmath>    // sinf, cosf, sqrtf, fabsf
#include <cstring>  // memcpy

// ---- module-internal ---------------------------------------------------------

static const float EPSILON = 1e-5f;         // singular at or below this determinant
static const float DEG2RAD = 0.017453294f;  // 3.141593 / 180 as a float

static bool _mat_singular(float det) { return fabsf(det) <= EPSILON; }

// ---- Matrix2 -----------------------------------------------------------------

Matrix2::Matrix2() { identity(); }
Matrix2::Matrix2(float m0, float m1, float m2, float m3) : m{m0, m1, m2, m3} {}
Matrix2::Matrix2(const float src[4]) { memcpy(m, src, sizeof(m)); }

Matrix2& Matrix2::identity()
{
    m[0] = m[3] = 1.0f;
    m[1] = m[2] = 0.0f;
    return *this;
}

float Matrix2::getDeterminant() const { return m[0] * m[3] - m[1] * m[2]; }

Matrix2& Matrix2::invert()
{
    float det = getDeterminant();
    if (_mat_singular(det)) return identity();
    float inv = 1.0f / det;
    float a = m[0], b = m[1], c = m[2], d = m[3];
    m[0] = inv * d;
    m[1] = -inv * b;
    m[2] = -inv * c;
    m[3] = inv * a;
    return *this;
}

Matrix2 Matrix2::operator*(const Matrix2& r) const
{
    return Matrix2(m[0] * r.m[0] + m[1] * r.m[2], m[0] * r.m[1] + m[1] * r.m[3],
                   m[2] * r.m[0] + m[3] * r.m[2], m[2] * r.m[1] + m[3] * r.m[3]);
}

static Matrix2 _mat2_sub(const Matrix2& a, const Matrix2& b)
{
    return Matrix2(a[0] - b[0], a[1] - b[1], a[2] - b[2], a[3] - b[3]);
}

static Matrix2 _mat2_neg(const Matrix2& a) { return Matrix2(-a[0], -a[1], -a[2], -a[3]); }

// ---- Matrix3 -----------------------------------------------------------------

Matrix3::Matrix3() { identity(); }
Matrix3::Matrix3(float m0, float m1, float m2, float m3, float m4, float m5, float m6, float m7, float m8)
    : m{m0, m1, m2, m3, m4, m5, m6, m7, m8}
{
}
Matrix3::Matrix3(const float src[9]) { memcpy(m, src, sizeof(m)); }

Matrix3& Matrix3::identity()
{
    for (int i = 0; i < 9; i++) m[i] = (i % 4 == 0) ? 1.0f : 0.0f;
    return *this;
}

float Matrix3::getDeterminant() const
{
    return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
           m[2] * (m[3] * m[7] - m[4] * m[6]);
}

Matrix3& Matrix3::invert()
{
    // adjugate: transposed cofactors
    float c[9];
    c[0] = m[4] * m[8] - m[5] * m[7];
    c[1] = m[2] * m[7] - m[1] * m[8];
    c[2] = m[1] * m[5] - m[2] * m[4];
    c[3] = m[5] * m[6] - m[3] * m[8];
    c[4] = m[0] * m[8] - m[2] * m[6];
    c[5] = m[2] * m[3] - m[0] * m[5];
    c[6] = m[3] * m[7] - m[4] * m[6];
    c[7] = m[1] * m[6] - m[0] * m[7];
    c[8] = m[0] * m[4] - m[1] * m[3];
    float det = m[0] * c[0] + m[1] * c[3] + m[2] * c[6];
    if (_mat_singular(det)) return identity();
    float inv = 1.0f / det;
    for (int i = 0; i < 9; i++) m[i] = inv * c[i];
    return *this;
}

Matrix3 Matrix3::operator*(const Matrix3& r) const
{
    Matrix3 out;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            out.m[i * 3 + j] = m[i * 3] * r.m[j] + m[i * 3 + 1] * r.m[3 + j] + m[i * 3 + 2] * r.m[6 + j];
    return out;
}

Vector3 Matrix3::operator*(const Vector3& v) const
{
    return Vector3{m[0] * v.x + m[1] * v.y + m[2] * v.z, m[3] * v.x + m[4] * v.y + m[5] * v.z,
                   m[6] * v.x + m[7] * v.y + m[8] * v.z};
}

// ---- Matrix4 -----------------------------------------------------------------

Matrix4::Matrix4() { identity(); }
Matrix4::Matrix4(float m00, float m01, float m02, float m03, float m04, float m05, float m06, float m07,
                 float m08, float m09, float m10, float m11, float m12, float m13, float m14, float m15)
    : m{m00, m01, m02, m03, m04, m05, m06, m07, m08, m09, m10, m11, m12, m13, m14, m15}
{
}
Matrix4::Matrix4(const float src[16]) { memcpy(m, src, sizeof(m)); }

Matrix4& Matrix4::identity()
{
    for (int i = 0; i < 16; i++) m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
    return *this;
}

float Matrix4::getCofactor(float m0, float m1, float m2, float m3, float m4, float m5, float m6, float m7,
                           float m8) const
{
    return m0 * (m4 * m8 - m5 * m7) - m1 * (m3 * m8 - m5 * m6) + m2 * (m3 * m7 - m4 * m6);
}

float Matrix4::getDeterminant() const
{
    return m[0] * getCofactor(m[5], m[6], m[7], m[9], m[10], m[11], m[13], m[14], m[15]) -
           m[1] * getCofactor(m[4], m[6], m[7], m[8], m[10], m[11], m[12], m[14], m[15]) +
           m[2] * getCofactor(m[4], m[5], m[7], m[8], m[9], m[11], m[12], m[13], m[15]) -
           m[3] * getCofactor(m[4], m[5], m[6], m[8], m[9], m[10], m[12], m[13], m[14]);
}

Matrix4& Matrix4::transpose()
{
    for (int r = 0; r < 4; r++)
        for (int c = r + 1; c < 4; c++) {
            float t = m[r * 4 + c];
            m[r * 4 + c] = m[c * 4 + r];
            m[c * 4 + r] = t;
        }
    return *this;
}

Matrix4& Matrix4::invert()
{
    if (m[12] == 0.0f && m[13] == 0.0f && m[14] == 0.0f && m[15] == 1.0f) return invertAffine();
    return invertGeneral();
}

Matrix4& Matrix4::invertGeneral()
{
    // signed cofactor of every element, each from the 3x3 minor without its row and column
    float cof[16];
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++) {
            float k[9];
            int n = 0;
            for (int i = 0; i < 4; i++) {
                if (i == r) continue;
                for (int j = 0; j < 4; j++)
                    if (j != c) k[n++] = m[i * 4 + j];
            }
            float minor = getCofactor(k[0], k[1], k[2], k[3], k[4], k[5], k[6], k[7], k[8]);
            cof[r * 4 + c] = ((r + c) & 1) ? -minor : minor;
        }
    float det = m[0] * cof[0] + m[1] * cof[1] + m[2] * cof[2] + m[3] * cof[3];
    if (_mat_singular(det)) return identity();
    float inv = 1.0f / det;
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++) m[r * 4 + c] = inv * cof[c * 4 + r];
    return *this;
}

Matrix4& Matrix4::invertAffine()
{
    Matrix3 r(m[0], m[1], m[2], m[4], m[5], m[6], m[8], m[9], m[10]);
    r.invert();
    float x = m[3], y = m[7], z = m[11];
    m[0] = r[0]; m[1] = r[1]; m[2] = r[2];
    m[4] = r[3]; m[5] = r[4]; m[6] = r[5];
    m[8] = r[6]; m[9] = r[7]; m[10] = r[8];
    m[3] = -(r[0] * x + r[1] * y + r[2] * z);
    m[7] = -(r[3] * x + r[4] * y + r[5] * z);
    m[11] = -(r[6] * x + r[7] * y + r[8] * z);
    return *this;
}

Matrix4& Matrix4::invertEuclidean()
{
    float t;
    t = m[1]; m[1] = m[4]; m[4] = t;
    t = m[2]; m[2] = m[8]; m[8] = t;
    t = m[6]; m[6] = m[9]; m[9] = t;
    float x = m[3], y = m[7], z = m[11];
    m[3] = -(m[0] * x + m[1] * y + m[2] * z);
    m[7] = -(m[4] * x + m[5] * y + m[6] * z);
    m[11] = -(m[8] * x + m[9] * y + m[10] * z);
    return *this;
}

Matrix4& Matrix4::invertProjective()
{
    // [A B; C D] in 2x2 blocks; the inverse through the Schur complement S = D - C A^-1 B
    Matrix2 a(m[0], m[1], m[4], m[5]);
    Matrix2 b(m[2], m[3], m[6], m[7]);
    Matrix2 c(m[8], m[9], m[12], m[13]);
    Matrix2 d(m[10], m[11], m[14], m[15]);

    Matrix2 ai = a;
    ai.invert();  // identity when A is singular
    Matrix2 aib = ai * b;
    Matrix2 s = _mat2_sub(d, c * aib);
    if (_mat_singular(s.getDeterminant())) return identity();
    Matrix2 si = s;
    si.invert();

    Matrix2 z = _mat2_neg(si * (c * ai));  // lower left
    Matrix2 y = _mat2_neg(aib * si);       // upper right
    Matrix2 x = _mat2_sub(ai, aib * z);    // upper left: A^-1 + A^-1 B S^-1 C A^-1

    m[0] = x[0]; m[1] = x[1]; m[2] = y[0]; m[3] = y[1];
    m[4] = x[2]; m[5] = x[3]; m[6] = y[2]; m[7] = y[3];
    m[8] = z[0]; m[9] = z[1]; m[10] = si[0]; m[11] = si[1];
    m[12] = z[2]; m[13] = z[3]; m[14] = si[2]; m[15] = si[3];
    return *this;
}

Matrix4& Matrix4::translate(float x, float y, float z)
{
    for (int c = 0; c < 4; c++) {
        m[c] += x * m[12 + c];
        m[4 + c] += y * m[12 + c];
        m[8 + c] += z * m[12 + c];
    }
    return *this;
}

Matrix4& Matrix4::translate(const Vector3& v) { return translate(v.x, v.y, v.z); }

Matrix4& Matrix4::scale(float s) { return scale(s, s, s); }

Matrix4& Matrix4::scale(float x, float y, float z)
{
    for (int c = 0; c < 4; c++) {
        m[c] *= x;
        m[4 + c] *= y;
        m[8 + c] *= z;
    }
    return *this;
}

Matrix4& Matrix4::rotate(float angle, float x, float y, float z)
{
    float c = cosf(angle * DEG2RAD);
    float s = sinf(angle * DEG2RAD);
    float k = 1.0f - c;
    Matrix4 r(x * x * k + c, x * y * k - z * s, x * z * k + y * s, 0.0f,
              x * y * k + z * s, y * y * k + c, y * z * k - x * s, 0.0f,
              x * z * k - y * s, y * z * k + x * s, z * z * k + c, 0.0f,
              0.0f, 0.0f, 0.0f, 1.0f);
    *this = r * *this;
    return *this;
}

Matrix4& Matrix4::rotate(float angle, const Vector3& axis) { return rotate(angle, axis.x, axis.y, axis.z); }

// rows p and q become c*p - s*q and s*p + c*q
static void _mat4_rotate_rows(float* m, int p, int q, float angle)
{
    float c = cosf(angle * DEG2RAD);
    float s = sinf(angle * DEG2RAD);
    for (int i = 0; i < 4; i++) {
        float a = m[p * 4 + i], b = m[q * 4 + i];
        m[p * 4 + i] = c * a - s * b;
        m[q * 4 + i] = s * a + c * b;
    }
}

Matrix4& Matrix4::rotateX(float angle)
{
    _mat4_rotate_rows(m, 1, 2, angle);
    return *this;
}

Matrix4& Matrix4::rotateY(float angle)
{
    // row 0 = c*row0 + s*row2, row 2 = -s*row0 + c*row2: the pair (2, 0)
    _mat4_rotate_rows(m, 2, 0, angle);
    return *this;
}

Matrix4& Matrix4::rotateZ(float angle)
{
    _mat4_rotate_rows(m, 0, 1, angle);
    return *this;
}

Matrix4 Matrix4::operator*(const Matrix4& r) const
{
    Matrix4 out;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
            out.m[i * 4 + j] = m[i * 4] * r.m[j] + m[i * 4 + 1] * r.m[4 + j] + m[i * 4 + 2] * r.m[8 + j] +
                               m[i * 4 + 3] * r.m[12 + j];
    return out;
}

Vector3 Matrix4::operator*(const Vector3& v) const
{
    return Vector3{m[0] * v.x + m[1] * v.y + m[2] * v.z + m[3], m[4] * v.x + m[5] * v.y + m[6] * v.z + m[7],
                   m[8] * v.x + m[9] * v.y + m[10] * v.z + m[11]};
}

// ---- vector functions ----------------------------------------------------------

CVector3 Vector(CVector3 a, CVector3 b) { return CVector3{a.x - b.x, a.y - b.y, a.z - b.z}; }

CVector3 AddVector(CVector3 a, CVector3 b) { return CVector3{a.x + b.x, a.y + b.y, a.z + b.z}; }

CVector3 DivideVectorByScaler(CVector3 v, float s) { return CVector3{v.x / s, v.y / s, v.z / s}; }

CVector3 Cross(CVector3 a, CVector3 b)
{
    return CVector3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

CVector3 Normalize(CVector3 v)
{
    float len = sqrtf(v.x * v.x + v.y * v.y + v.z * v.z);
    return DivideVectorByScaler(v, len);
}

float dot(CVector3 a, CVector3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

float intersectRayPlane(CVector3 origin, CVector3 direction, CVector3 point, CVector3 normal)
{
    float denom = dot(direction, normal);
    if (denom == 0.0f) return -1.0f;
    return dot(Vector(point, origin), normal) / denom;
}
