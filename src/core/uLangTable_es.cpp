// Spanish. Ids, placeholders and line breaks follow the English table.
#include <iterator>

#include "core/uLang.h"
#include "core/uLangTables.h"

// clang-format off
const char* const kLangTextEs[] = {
  "Ejecutar TRIM",  // 0
  "Inspeccionar unidad",  // 1
  "Prueba real",  // 2
  "Selección de disco",  // 3
  "Opciones de ejecución",  // 4
  "Configuración avanzada",  // 5
  "Estado / Registro",  // 6
  "Control de prueba real de TRIM",  // 7
  "Actualizar",  // 8
  "Info USB",  // 9
  "Iniciar",  // 10
  "Cancelar",  // 11
  "Borrar registro",  // 12
  "Iniciar prueba real de TRIM",  // 13
  "Detener",  // 14
  "Solo verificar",  // 15
  "Eliminar carpeta de prueba",  // 16
  "Exportar mapa de archivos CSV",  // 17
  "Borrar registro",  // 18
  "Inspeccionar",  // 19
  "Exportar lista de sectores libres",  // 20
  "Modo de ejecución",  // 21
  "TRIM completo (todo el rango del dispositivo)",  // 22
  "Solo TRIM del espacio libre",  // 23
  "Simulación (solo verificar, sin envío)",  // 24
  "Mostrar opciones avanzadas",  // 25
  "Política FS: -",  // 26
  "Inicializar tras TRIM:",  // 27
  "No inicializar",  // 28
  "Tiempo de espera (ms)",  // 29
  "Reintentos",  // 30
  "Entradas por lote",  // 31
  "Límite de lotes",  // 32
  "Permitir disco del sistema (PELIGRO)",  // 33
  "Ocultar número de serie en el registro",  // 34
  "Vaciar volúmenes antes de TRIM",  // 35
  "Estado: Inactivo",  // 36
  "Estado: En ejecución",  // 37
  "Paso inicial",  // 38
  "Paso final",  // 39
  "Espera por caída de velocidad (min, 0=desact.)",  // 40
  "Seleccione el disco USB de destino para TRIM. Se admiten los protocolos BOT y UASP.",  // 41
  "Vuelve a explorar la lista de discos USB.",  // 42
  "Muestra la descripción de los protocolos BOT/UAS y la compatibilidad con TRIM.",  // 43
  "TRIM completo: todo el disco (sin volúmenes).|Espacio libre: solo las áreas no usadas de los volúmenes montados.",  // 44
  "Si está marcado, verifica CDB/rangos sin enviar un TRIM real.",  // 45
  "Muestra el tiempo de espera, los reintentos, los lotes y otros ajustes avanzados.",  // 46
  "Inicializar el disco como GPT/MBR tras el TRIM completo, u omitir.",  // 47
  "Detalles del disco seleccionado: modelo, número de serie, capacidad, volúmenes, espacio libre.",  // 48
  "Tiempo de espera del comando SCSI PASS-THROUGH (milisegundos). Predeterminado: 5000 ms.",  // 49
  "Número de reintentos si falla el envío de TRIM. 0 = sin reintentos.",  // 50
  "Entradas TRIM por comando SCSI. Predeterminado: 32.",  // 51
  "Máximo de lotes a ejecutar. Limítelo a 1/10/100 para pruebas.",  // 52
  "Permite usar el disco del sistema/arranque como destino de TRIM. ¡Muy peligroso!",  // 53
  "Oculta parcialmente los números de serie de los discos en los registros.",  // 54
  "FlushFileBuffers en cada volumen antes de TRIM.",  // 55
  "Ejecuta TRIM en el disco seleccionado. Requiere confirmación en dos pasos.",  // 56
  "Cancela la operación TRIM en curso.",  // 57
  "Borra todo el contenido de la ventana de registro.",  // 58
  "Muestra el progreso de la operación TRIM.",  // 59
  "Muestra el estado actual de la operación TRIM.",  // 60
  "Registro detallado de la ejecución de TRIM. También se guarda automáticamente en un archivo.",  // 61
  "Envía comandos ATA TRIM a discos USB-SATA.",  // 62
  "Inspecciona la estructura de particiones, la capacidad y el espacio libre del disco.",  // 63
  "Prueba el TRIM del SSD mediante un ciclo de escritura/borrado/TRIM/verificación.",  // 64
  "Prueba el TRIM del SSD mediante una secuencia de escritura/borrado/TRIM/verificación.",  // 65
  "Detiene de forma segura la prueba real en curso.",  // 66
  "Solo verifica la integridad de los datos de los archivos de 500MB (sin escritura/borrado).",  // 67
  "Elimina por completo la carpeta trim_real_test y todos sus archivos.",  // 68
  "Paso inicial. 1=Crear archivos, 2=Borrar+TRIM, 3=Llenar 1GB, 4=Verificar 500MB, 5=Verificar 1GB.",  // 69
  "Paso final. Debe ser >= paso inicial.",  // 70
  "Estado actual del progreso de la prueba real.",  // 71
  "Velocidad de lectura/escritura en tiempo real (MB/s) sobre una ventana de 2 segundos.",  // 72
  "Tiempo total transcurrido desde el inicio de la prueba.",  // 73
  "Tiempo transcurrido del paso/sección actual.",  // 74
  "Guarda en CSV los nombres de archivo, los sectores inicial/final y los tamaños de trim_real_test.",  // 75
  "Borra el registro y vuelve a mostrar el mensaje de guía.",  // 76
  "Tiempo de espera (min) cuando la velocidad de escritura cae por debajo del 50% de la media. 0=desactivado.",  // 77
  "Registro del progreso de la prueba real. Estado y resultados de cada paso.",  // 78
  "Inspecciona la partición, la capacidad y el espacio libre del disco seleccionado.",  // 79
  "Guarda en CSV los rangos LBA de espacio libre de cada volumen.",  // 80
  "Resumen del espacio total/libre/usado del disco y LBA inicial del último bloque libre.",  // 81
  "Tipo, sectores, sector físico inicial, tamaño de clúster, etc. de cada partición.",  // 82
  "Error",  // 83
  "Advertencia",  // 84
  "Información",  // 85
  "Confirmar",  // 86
  "No coincide",  // 87
  "En ejecución",  // 88
  "Se requiere administrador",  // 89
  "Restricción",  // 90
  "Restricción de modo",  // 91
  "Bloqueado por política",  // 92
  "Falló la verificación previa",  // 93
  "Falló la generación del plan",  // 94
  "Inicialización completada",  // 95
  "Falló la inicialización",  // 96
  "Seleccione un disco.",  // 97
  "Ya está en ejecución.",  // 98
  "Se requieren privilegios de administrador.",  // 99
  // 100
  "Este disco tiene uno o más volúmenes (particiones montadas), por lo que el TRIM de todo el dispositivo no está disponible. "
  "Para usar el TRIM completo, elimine todos los volúmenes de este disco en Administración de discos (o similar) y vuelva a intentarlo. "
  "Mientras tanto, use solo el TRIM del espacio libre.",
  "Detenga cualquier operación de escritura en la unidad de destino durante el TRIM.",  // 101
  "El número de disco introducido no coincide con el número PD de destino. Operación cancelada.",  // 102
  "Introduzca el número de disco (número después de PD): ",  // 103
  "Seleccione primero un disco para inspeccionar.",  // 104
  "No se encontró ninguna letra de unidad montada.",  // 105
  "La carpeta no existe: ",  // 106
  "No hay información de volumen disponible.",  // 107
  "El paso inicial es mayor que el paso final.",  // 108
  "Se eliminará por completo la carpeta trim_real_test. ¿Continuar?",  // 109
  "Carpeta eliminada: ",  // 110
  "Error al eliminar la carpeta: ",  // 111
  "Ejecutando solo la verificación. Destino: ",  // 112
  "La prueba está en ejecución.",  // 113
  "Disco inicializado como GPT tras el TRIM.",  // 114
  "Disco inicializado como MBR tras el TRIM.",  // 115
  "Falló la inicialización del disco.",  // 116
  "CSV del mapa de archivos guardado",  // 117
  "Preparando",  // 118
  "Hecho",  // 119
  "Verificando",  // 120
  "Modo solo verificación: explorando archivos existentes",  // 121
  "Exploración completada: %d archivos",  // 122
  "No hay archivos para verificar. Compruebe la carpeta trim_real_test.",  // 123
  "Verificación de integridad de archivos de 500MB iniciada",  // 124
  "Verificación completada: Correcta",  // 125
  "Verificación completada: Se encontraron fallos",  // 126
  "PASO1: Llenando 1/3 del espacio libre con archivos de 500MB",  // 127
  "PASO1 completado",  // 128
  "PASO2: Borrar uno de cada 10 archivos, Flush/CSV/TRIM",  // 129
  "PASO2 completado",  // 130
  "PASO3: Llenando ~%s bytes con archivos de 1GB (dejando 1GB libre)",  // 131
  "PASO3 completado",  // 132
  "PASO4: Verificación de integridad de archivos de 500MB iniciada",  // 133
  "PASO4 completado: Verificación superada",  // 134
  "PASO4 completado: Se encontraron fallos de verificación",  // 135
  "Tiempo total transcurrido: ",  // 136
  "TRIM falló o hubo advertencias, revise el registro.",  // 137
  "Falló la consulta de capacidad, cancelando.",  // 138
  "No se pudo crear la carpeta de prueba: ",  // 139
  "Error al crear el archivo: ",  // 140
  "Error de escritura: ",  // 141
  "Caída de velocidad detectada: 2s=%.1f / media=%.1f MB/s, esperando %d min",  // 142
  "CSV de espacio libre guardado: ",  // 143
  "Archivos de 1GB existentes detectados: último índice=%d, siguiente=%d",  // 144
  "Verificación fallida: falta el archivo - ",  // 145
  "Verificación fallida: CRC no coincide - ",  // 146
  "Error al escribir el CSV",  // 147
  "Flush correcto: ",  // 148
  "Flush fallido: ",  // 149
  "Iniciando la prueba real de TRIM. Volumen de destino: ",  // 150
  "CSV creado: ",  // 151
  "Iniciando desde el PASO %d: explorando archivos existentes",  // 152
  "Falló la generación del plan de TRIM: ",  // 153
  "Pulse Inspeccionar para analizar el PhysicalDrive seleccionado.",  // 154
  "Espacio total",  // 155
  "Espacio libre",  // 156
  "Espacio usado",  // 157
  "Procedimiento de la prueba real de TRIM (PASO 1~5):",  // 158
  "1) Llenar 1/3 del espacio restante con archivos aleatorios de 500MB.",  // 159
  "2) Borrar uno de cada 10 archivos -> Flush -> CSV de espacio libre -> TRIM.",  // 160
  "3) Llenar el espacio restante con archivos aleatorios de 1GB (dejar ~1GB).",  // 161
  "4) Verificar la integridad de los archivos de 500MB.",  // 162
  "Espera automática ante caída de velocidad (configurable, 0=desact.). Pausa de 1 min tras la espera.",  // 163
  "Pulse Detener para cancelar en cualquier momento.",  // 164
  "El disco se inicializará como GPT tras el TRIM",  // 165
  "El disco se inicializará como MBR tras el TRIM",  // 166
  "El TRIM del espacio libre no está disponible: ",  // 167
  "Esperando %d:%02d",  // 168
  "Advertencia",  // 169
  // 170
  "TRIM puede afectar a la recuperación de datos y a la vida útil/rendimiento del SSD.\r\n"
  "Compruebe el disco de destino. ¿Desea continuar?",
  "Si el dispositivo usa UAS, las transferencias reales se bloquearán.",  // 171
  "No se pudo abrir el identificador del disco: ",  // 172
  "Inicialización del disco correcta: ",  // 173
  "IOCTL_DISK_CREATE_DISK falló: winerr=",  // 174
  "Guía de conexión USB",  // 175
  // 176
  "Se requiere un puerto USB 3.0 o superior (normalmente azul, aunque el color no está garantizado).\r\n"
  "\r\n"
  "BOT: TRIM mediante ATA Pass-Through\r\n"
  "UASP: TRIM mediante SCSI UNMAP (alternativa: ATA Pass-Through)\r\n"
  "\r\n"
  "Si TRIM falla:\r\n"
  "1) Desconecte y vuelva a conectar directamente a un puerto USB 3.0+\r\n"
  "2) Cambie el hub/cable USB\r\n"
  "3) Tras Actualizar, compruebe Transport",
  "Pestañas de la interfaz inicializadas",  // 177
  "Información adicional",  // 178
  "ATA Pass-Through",  // 179
  "Compatible con ATA TRIM",  // 180
  "Operación cancelada por el usuario.",  // 181
  "Ejecución de TRIM completada correctamente.",  // 182
  "Ejecución de TRIM completada con lotes fallidos.",  // 183
  "Vrek Productos",  // 184
  "Vrek Manual",  // 185
  "Licencia",  // 186
  "Información de licencia",  // 187
  // 188
  "Este programa se ofrece de forma gratuita, \"tal cual\", sin garantía de ningún tipo.\r\n"
  "Lo usa bajo su propia responsabilidad; el autor no responde de ninguna pérdida de datos ni de otros daños.\r\n"
  "\r\n"
  "Haga siempre copias de seguridad de sus datos antes de ejecutar TRIM.",
  "Acerca de TRIM",  // 189
  "Acerca de TRIM",  // 190
  // 191
  "[ ¿Qué es TRIM? ]\r\n"
  "TRIM indica al SSD qué bloques ya no están en uso, para que pueda borrarlos con antelación "
  "y realizar la recolección de basura de forma eficiente.\r\n"
  "\r\n"
  "[ Ventajas de TRIM ]\r\n"
  "- Rendimiento de escritura sostenido\r\n"
  "- Mayor vida útil del SSD gracias a menos ciclos de escritura/borrado\r\n"
  "- Tiempos de respuesta estables\r\n"
  "- Gestión eficiente del espacio por parte del controlador del SSD\r\n"
  "\r\n"
  "[ ¿Cuándo conviene hacer TRIM? ]\r\n"
  "- Después de borrar muchos archivos\r\n"
  "- Cuando la velocidad de escritura ha bajado\r\n"
  "- Tras un uso prolongado de un SSD USB externo sin TRIM\r\n"
  "- Cuando el sistema no aplica TRIM por sí mismo a los SSD conectados por USB\r\n"
  "\r\n"
  "[ Nota ]\r\n"
  "Windows aplica TRIM automáticamente a los SSD SATA/NVMe internos, pero no a los SSD externos "
  "conectados mediante puentes USB-SATA. Esta herramienta está hecha para esas unidades.",
  "Cómo usar",  // 192
  "Unidad de destino",  // 193
  // 194
  "Esta prueba escribe en todo el espacio libre de la unidad y puede tardar mucho tiempo.\r\n"
  "¿Desea continuar?",
  "PASO1: Ejecutando TRIM antes de crear los archivos",  // 195
  // 196
  "Este puente USB rechazó todas las rutas de TRIM por hardware (DSM / SCSI UNMAP / ATA Pass-Through).\r\n"
  "Para NTFS, \"Optimize-Volume -ReTrim\" de Windows PowerShell es la ruta nativa y segura, y se usará para volver a aplicar TRIM al espacio libre.\r\n"
  "¿Continuar? (Evite escribir en la unidad de destino durante la operación.)",
  "Solo Windows ReTrim (omitir DSM / UNMAP / ATA Pass-Through)",  // 197
  // 198
  "Úselo con puentes USB-SATA incompatibles (p. ej., Vansuny U52, SSK). "
  "Omite todas las rutas de TRIM por hardware y ejecuta directamente Windows Optimize-Volume -ReTrim.",
  // 199
  "Este puente USB-SATA no admite TRIM en exFAT/FAT32.\r\n"
  "Vuelva a formatear la unidad como NTFS para usar Windows ReTrim e inténtelo de nuevo.",
  "Advertencia de compatibilidad de TRIM",  // 200
  // 201
  "Este puente USB-SATA indica que TRIM NO es compatible.\r\n"
  "Es probable que fallen todas las rutas de TRIM (DSM / SCSI UNMAP / WRITE SAME / ATA Pass-Through).\r\n"
  "\r\n"
  "¿Continuar de todos modos?",
  "Continuar con Windows ReTrim",  // 202
  // 203
  "Puede omitir el TRIM por hardware y ejecutar solo Windows Optimize-Volume -ReTrim.\r\n"
  "(Solo funciona en volúmenes NTFS.)\r\n"
  "\r\n"
  "¿Continuar ahora en este modo?",
  // 204
  "Optimize-Volume -ReTrim solo está disponible en volúmenes NTFS.\r\n"
  "Este disco no tiene ningún volumen NTFS, por lo que Windows ReTrim no se puede ofrecer como alternativa inmediata.\r\n"
  "\r\n"
  "Vuelva a formatear la unidad como NTFS e inténtelo de nuevo, o active \"Solo Windows ReTrim\" manualmente después de cambiar a NTFS.",
  // 205
  "Parece que el disco se ha desconectado del bus USB.\r\n"
  "\r\n"
  "No cierre la herramienta ni use \"Quitar hardware de forma segura\" de Windows.\r\n"
  "Primero desconecte físicamente la unidad y vuelva a conectarla; después espere a que Windows la detecte de nuevo.\r\n"
  "Cuando la unidad se detecte de nuevo, actualice la lista de discos y vuelva a ejecutar la operación.",
  "Experto: permitir reintento con ATA Pass-Through tras fallo de ReTrim (arriesgado)",  // 206
  "En modo automático, si ReTrim falla, la herramienta puede ofrecer un bloqueo/desmontaje con advertencia + reintento con ATA Pass-Through.",  // 207
  // 208
  "Optimize-Volume -ReTrim falló (por ejemplo, StorageWMI 43022).\r\n"
  "El ATA Pass-Through manual aún puede funcionar con este puente, pero requiere bloquear/desmontar y puede desestabilizar puentes frágiles.\r\n"
  "\r\n"
  "¿Continuar con un reintento experto con ATA Pass-Through?",
  "Seleccione la unidad lógica que se usará para la prueba real.",  // 209
  "Gráfico de velocidad",  // 210
  "Muestra el gráfico temporal de la velocidad de escritura de la última prueba.",  // 211
  "Gráfico de velocidad de escritura",  // 212
  "Puntos de datos: %d | Velocidad máx.: %.1f MB/s | Duración: %s",  // 213
  "Guardar CSV",  // 214
  "Cerrar",  // 215
  "Guardar CSV de datos de velocidad",  // 216
  "Estado: Explorando discos...",  // 217
  "Estado: Listo",  // 218
  "Estado: Completado",  // 219
  "Estado: ",  // 220
  "Velocidad: ",  // 221
  "Transcurrido: ",  // 222
  "Paso: ",  // 223
  "Política FS: modo de espacio libre habilitado (volúmenes NTFS/exFAT/FAT32 detectados)",  // 224
  "Política FS: modo de espacio libre habilitado (NTFS/exFAT/FAT32)",  // 225
  "Política FS: modo de espacio libre deshabilitado - ",  // 226
  "Error al crear el CSV (creados): ",  // 227
  "Error al crear el CSV (eliminados): ",  // 228
  "CSV: falló la búsqueda de la dirección física idx=%d %s (err=%d)",  // 229
  "PASO4 Verificar",  // 230
  "CSV guardado: ",  // 231
  "Disco inicializado como %s tras el TRIM.",  // 232
  "Falló la inicialización %s del disco tras el TRIM",  // 233
  "No hay archivos en la carpeta trim_real_test.",  // 234
  "Error al guardar el CSV: ",  // 235
  "Inicialización del disco omitida: la ejecución de TRIM no se completó correctamente. Resuelva el problema y vuelva a ejecutarla.",  // 236
  // 237
  "La configuración del disco cambió desde la última actualización (disco sustituido o cambio de volumen/sistema de archivos detectado). "
  "La lista se actualizará ahora. Vuelva a seleccionar el disco y pulse Iniciar de nuevo.",
  // 238
  "Para proteger el volumen NTFS montado (protección Pinned Volume), no se usan las rutas de TRIM por hardware (DSM / SCSI UNMAP / ATA Pass-Through) en este puente.\r\n"
  "Para NTFS, \"Optimize-Volume -ReTrim\" de Windows PowerShell es la ruta nativa y segura, y se usará para volver a aplicar TRIM al espacio libre.\r\n"
  "¿Continuar? (Evite escribir en la unidad de destino durante la operación.)",
  "Excluir mensajes repetitivos",  // 239
  "Suprime los mensajes informativos por lote durante las iteraciones de TRIM. Las advertencias y los errores se siguen registrando.",  // 240
  "PASO5: Verificación de integridad de archivos de 1GB iniciada",  // 241
  "PASO5 completado: Verificación superada",  // 242
  "PASO5 completado: Se encontraron fallos de verificación",  // 243
  "PASO5 Verificar",  // 244
  "5) Verificar la integridad de los archivos de 1GB.",  // 245
  "%d archivos verificados: %d correctos, %d fallidos",  // 246
  "Nota: los resultados ATA los informa el puente USB (SAT) y pueden diferir del SSD real. Los dispositivos UAS aplican TRIM mediante SCSI UNMAP/DSM.",  // 247
  "Método UASP (experto)",  // 248
  // 249
  "Modo experto — se recomienda Auto. Fuerza el método de TRIM en dispositivos UASP: SCSI UNMAP también aplica TRIM al espacio libre de FAT32/exFAT "
  "(Windows ReTrim es solo para NTFS), pero bloquea/desmonta los volúmenes y puede desestabilizar algunos puentes. No se guarda; vuelve a Auto al iniciar.",
  // 250
  "Este disco es más grande de lo que puede direccionar una tabla de particiones MBR: MBR admite como máximo 2^32 bloques lógicos (%s en este disco) y el espacio restante no podría usarse en ninguna partición. Seleccione GPT y pulse Iniciar de nuevo.",
  "El volumen es demasiado pequeño para la prueba: el PASO%d encontró %s bytes libres y necesita %s bytes.",  // 251
  "El paso de TRIM falló: no se liberó nada con TRIM, por lo que esta prueba no demuestra nada sobre TRIM. Consulte el registro para ver los errores de TRIM.",  // 252
  "Estado: Cancelado (%d de %d lotes completados)",  // 253
  "Inicialización del disco omitida: la ejecución se canceló.",  // 254
};
// clang-format on
static_assert(std::size(kLangTextEs) == kLangTextCount);
