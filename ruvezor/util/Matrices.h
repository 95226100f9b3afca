// Matrices: small float matrix and vector helpers for the match view.
//
// Matrices are row-major (first row first). In Matrix4 the elements 3, 7, 11 hold
// an affine transform's translation and 12..15 the bottom row. Transforms
// multiply onto the left (M becomes T*M) and act on column vectors.
// Angles are in degrees. A matrix whose determinant is at most 1e-5 in magnitude
// counts as singular and inverts to the identity.
#pragma once

struct Vector3 {
    float x, y, z;
};

struct CVector3 {
    float x, y, z;
};

class Matrix2 {
public:
    float m[4];

    Matrix2();  // identity
    Matrix2(float m0, float m1, float m2, float m3);
    explicit Matrix2(const float src[4]);

    Matrix2& identity();
    float getDeterminant() const;
    Matrix2& invert();

    float operator[](int i) const { return m[i]; }
    float& operator[](int i) { return m[i]; }
    Matrix2 operator*(const Matrix2& r) const;
};

class Matrix3 {
public:
    float m[9];

    Matrix3();  // identity
    Matrix3(float m0, float m1, float m2, float m3, float m4, float m5, float m6, float m7, float m8);
    explicit Matrix3(const float src[9]);

    Matrix3& identity();
    float getDeterminant() const;
    Matrix3& invert();

    float operator[](int i) const { return m[i]; }
    float& operator[](int i) { return m[i]; }
    Matrix3 operator*(const Matrix3& r) const;
    Vector3 operator*(const Vector3& v) const;
};

class Matrix4 {
public:
    float m[16];

    Matrix4();  // identity
    Matrix4(float m00, float m01, float m02, float m03, float m04, float m05, float m06, float m07,
            float m08, float m09, float m10, float m11, float m12, float m13, float m14, float m15);
    explicit Matrix4(const float src[16]);

    Matrix4& identity();
    float getDeterminant() const;
    // determinant of the 3x3 matrix given row by row
    float getCofactor(float m0, float m1, float m2, float m3, float m4, float m5, float m6, float m7,
                      float m8) const;

    Matrix4& transpose();
    Matrix4& invert();  // affine path when the bottom row is 0,0,0,1, else general
    Matrix4& invertGeneral();
    Matrix4& invertAffine();
    Matrix4& invertEuclidean();
    Matrix4& invertProjective();

    Matrix4& translate(float x, float y, float z);
    Matrix4& translate(const Vector3& v);
    Matrix4& scale(float s);
    Matrix4& scale(float x, float y, float z);
    Matrix4& rotate(float angle, float x, float y, float z);  // axis must be unit length
    Matrix4& rotate(float angle, const Vector3& axis);
    Matrix4& rotateX(float angle);
    Matrix4& rotateY(float angle);
    Matrix4& rotateZ(float angle);

    float operator[](int i) const { return m[i]; }
    float& operator[](int i) { return m[i]; }
    Matrix4 operator*(const Matrix4& r) const;
    // the point (x, y, z, 1) transformed; the w row is not divided out
    Vector3 operator*(const Vector3& v) const;
};

CVector3 Vector(CVector3 a, CVector3 b);  // a - b
CVector3 AddVector(CVector3 a, CVector3 b);
CVector3 DivideVectorByScaler(CVector3 v, float s);
CVector3 Cross(CVector3 a, CVector3 b);
CVector3 Normalize(CVector3 v);
float dot(CVector3 a, CVector3 b);
// t with origin + t*direction on the plane; -1 when the ray runs parallel to it
float intersectRayPlane(CVector3 origin, CVector3 direction, CVector3 point, CVector3 normal);
