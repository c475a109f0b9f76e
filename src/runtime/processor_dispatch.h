// The process-wide table of vector and matrix routines, filled once for the
// processor at hand on the first call of any operation it serves.
//
// Of the 74 operations only three have routines in this library:
// NormalizeVector3 (normalize_vector.h) and the two half-float array
// conversions (half_float.h). The other slots are reserved and stay empty.
#pragma once

#include <cstdint>

namespace z3az {

using DispatchRoutine = void (*)();

enum DispatchSlot : uint32_t {
    SlotVec2Transform = 0,
    SlotVec3Transform,
    SlotVec4Transform,
    SlotMatrixMultiply,
    SlotMatrixMultiplyTranspose,
    SlotVec2TransformNormal,
    SlotVec3TransformNormal,
    SlotNormalizeVector3,  // 7
    SlotVec4Normalize,
    SlotVec2TransformCoord,
    SlotVec3TransformCoord,  // 10
    SlotMatrixDeterminant,
    SlotMatrixDecompose,
    SlotPlaneFromPointNormal,
    SlotPlaneFromPoints,
    SlotVec3Project,
    SlotVec3Unproject,
    SlotVec4Cross,
    SlotVec2Hermite,
    SlotMatrixInverse,
    SlotQuaternionMultiply,  // 20
    SlotQuaternionNormalize,
    SlotPlaneNormalize,
    SlotPlaneIntersectLine,
    SlotQuaternionToAxisAngle,
    SlotQuaternionRotationMatrix,
    SlotQuaternionRotationYawPitchRoll,
    SlotMatrixTranslation,
    SlotMatrixShadow,
    SlotMatrixReflect,
    SlotQuaternionRotationAxis,  // 30
    SlotMatrixRotationX,
    SlotMatrixRotationY,
    SlotMatrixRotationZ,
    SlotMatrixScaling,
    SlotPlaneTransform,
    SlotQuaternionSlerp,
    SlotQuaternionBaryCentric,
    SlotMatrixTranspose,
    SlotMatrixRotationQuaternion,
    SlotMatrixTransformation,  // 40
    SlotMatrixRotationYawPitchRoll,
    SlotMatrixAffineTransformation,
    SlotMatrixRotationAxis,
    SlotQuaternionSquad,
    SlotQuaternionInverse,
    SlotQuaternionSquadSetup,
    SlotVec2Normalize,
    SlotVec2CatmullRom,
    SlotVec2BaryCentric,
    SlotVec3Hermite,  // 50
    SlotVec3CatmullRom,
    SlotVec3BaryCentric,
    SlotVec4Hermite,
    SlotVec4CatmullRom,
    SlotVec4BaryCentric,
    SlotQuaternionLn,
    SlotQuaternionExp,
    SlotFloat32ToFloat16Array,  // 58
    SlotFloat16ToFloat32Array,  // 59
    SlotVec2TransformArray,     // 60
    SlotVec2TransformCoordArray,
    SlotVec2TransformNormalArray,
    SlotVec3TransformArray,
    SlotVec3TransformCoordArray,
    SlotVec3TransformNormalArray,
    SlotVec4TransformArray,
    SlotVec3ProjectArray,
    SlotVec3UnprojectArray,
    SlotPlaneTransformArray,
    SlotVertexDataTransform,  // 70
    SlotNPatchControlPoints,
    SlotMatrixTransformation2D,
    SlotMatrixAffineTransformation2D,
    DispatchSlotCount  // 74
};

// What the table was filled for.
enum : uint32_t {
    DispatchPortable = 0,  // portable and generic routines only
    DispatchAmd = 1,       // 3DNow! (and AMD SSE) routines
    DispatchSse2 = 2,
    DispatchSse = 3,
    DispatchNotFilled = 0xFFFF,
};

// The table; before it is filled the slots with routines hold entries that
// fill it and then go on to the routine chosen.
extern DispatchRoutine ProcessorDispatchTable[DispatchSlotCount];
// The portable routine of every slot (null for the reserved ones).
extern const DispatchRoutine PortableRoutines[DispatchSlotCount];
// DispatchNotFilled until the table is filled, then the path chosen.
extern uint32_t DispatchState;

// Fills the table once per process and returns DispatchState. The registry
// values "DisablePSGP" and "DisableZ3AZPSGP" (REG_DWORD under the Direct3D
// key) choose: 1 forbids every processor-specific routine, 2 skips the AMD
// path. Otherwise an AMD processor with 3DNow! takes the AMD path, then
// SSE2 comes before SSE.
uint32_t InitProcessorDispatch();

// 1 when the processor has MMX and the registry value "DisableMMX" is absent
// or 0; once that value has forced 0, it stays 0 for the process.
int32_t IsMmxAvailable();

// Back to the unfilled table, and to an untested MMX value, so that tests
// can fill the table again for another processor or registry setting.
void ResetProcessorDispatch();
void ResetMmxAvailability();

}  // namespace z3az
