// French. Ids, placeholders and line breaks follow the English table.
#include <iterator>

#include "core/uLang.h"
#include "core/uLangTables.h"

// clang-format off
const char* const kLangTextFr[] = {
  "Exécuter TRIM",  // 0
  "Inspecter le lecteur",  // 1
  "Test réel",  // 2
  "Sélection du disque",  // 3
  "Options d'exécution",  // 4
  "Paramètres avancés",  // 5
  "État / Journal",  // 6
  "Contrôle du test réel TRIM",  // 7
  "Actualiser",  // 8
  "Infos USB",  // 9
  "Démarrer",  // 10
  "Annuler",  // 11
  "Effacer le journal",  // 12
  "Démarrer le test réel TRIM",  // 13
  "Arrêter",  // 14
  "Vérifier uniquement",  // 15
  "Supprimer le dossier de test",  // 16
  "Exporter la carte des fichiers en CSV",  // 17
  "Effacer le journal",  // 18
  "Inspecter",  // 19
  "Exporter la liste des secteurs libres",  // 20
  "Mode d'exécution",  // 21
  "TRIM complet (toute la plage du périphérique)",  // 22
  "TRIM de l'espace libre uniquement",  // 23
  "Simulation (vérification seule, aucun envoi)",  // 24
  "Afficher les options avancées",  // 25
  "Politique FS : -",  // 26
  "Initialiser après TRIM :",  // 27
  "Ne pas initialiser",  // 28
  "Délai d'expiration (ms)",  // 29
  "Nouvelles tentatives",  // 30
  "Entrées par lot",  // 31
  "Limite de lots",  // 32
  "Autoriser le disque système (DANGER)",  // 33
  "Masquer le numéro de série dans le journal",  // 34
  "Vider les tampons des volumes avant TRIM",  // 35
  "État : Inactif",  // 36
  "État : En cours",  // 37
  "Étape de début",  // 38
  "Étape de fin",  // 39
  "Attente si chute de vitesse (min, 0=désactivé)",  // 40
  "Sélectionnez le disque USB cible du TRIM. Protocoles BOT et UASP pris en charge.",  // 41
  "Analyser à nouveau la liste des disques USB.",  // 42
  "Afficher la description des protocoles BOT/UAS et la compatibilité TRIM.",  // 43
  "TRIM complet : tout le disque (aucun volume).|Espace libre : uniquement les zones inutilisées des volumes montés.",  // 44
  "Si coché, vérifie les CDB/plages sans envoyer de vrai TRIM.",  // 45
  "Afficher le délai d'expiration, les tentatives, les lots et d'autres paramètres avancés.",  // 46
  "Initialiser le disque en GPT/MBR après un TRIM complet, ou ignorer.",  // 47
  "Détails du disque sélectionné : modèle, numéro de série, capacité, volumes, espace libre.",  // 48
  "Délai d'expiration des commandes SCSI PASS-THROUGH (millisecondes). Par défaut 5 000 ms.",  // 49
  "Nombre de tentatives en cas d'échec d'envoi du TRIM. 0 = aucune nouvelle tentative.",  // 50
  "Entrées TRIM par commande SCSI. Par défaut 32.",  // 51
  "Nombre maximal de lots à exécuter. Limitez à 1/10/100 pour les tests.",  // 52
  "Autoriser le disque système/de démarrage comme cible du TRIM. Très dangereux !",  // 53
  "Masquer partiellement les numéros de série des disques dans les journaux.",  // 54
  "FlushFileBuffers sur chaque volume avant TRIM.",  // 55
  "Exécuter TRIM sur le disque sélectionné. Double confirmation requise.",  // 56
  "Annuler l'opération TRIM en cours.",  // 57
  "Effacer tout le contenu de la fenêtre du journal.",  // 58
  "Affiche la progression de l'opération TRIM.",  // 59
  "Affiche l'état actuel de l'opération TRIM.",  // 60
  "Journal détaillé de l'exécution TRIM. Également enregistré automatiquement dans un fichier.",  // 61
  "Envoyer des commandes ATA TRIM aux disques USB-SATA.",  // 62
  "Inspecter la structure des partitions, la capacité et l'espace libre du disque.",  // 63
  "Tester le TRIM du SSD par un cycle écriture/suppression/TRIM/vérification.",  // 64
  "Tester le TRIM du SSD par une séquence écriture/suppression/TRIM/vérification.",  // 65
  "Arrêter en toute sécurité le test réel en cours.",  // 66
  "Vérifier uniquement l'intégrité des données des fichiers de 500MB (sans écriture/suppression).",  // 67
  "Supprimer entièrement le dossier trim_real_test et tous les fichiers qu'il contient.",  // 68
  "Étape de début. 1=Créer les fichiers, 2=Supprimer+TRIM, 3=Remplir 1GB, 4=Vérifier 500MB, 5=Vérifier 1GB.",  // 69
  "Étape de fin. Doit être >= étape de début.",  // 70
  "État d'avancement actuel du test réel.",  // 71
  "Vitesse de lecture/écriture en temps réel (MB/s) sur une fenêtre de 2 secondes.",  // 72
  "Temps total écoulé depuis le début du test.",  // 73
  "Temps écoulé pour l'étape/la section en cours.",  // 74
  "Enregistrer en CSV les noms de fichiers, secteurs de début/fin et tailles de trim_real_test.",  // 75
  "Effacer le journal et réafficher le message d'aide.",  // 76
  "Temps d'attente (min) lorsque la vitesse d'écriture tombe sous 50% de la moyenne. 0=désactivé.",  // 77
  "Journal d'avancement du test réel. État et résultats de chaque étape.",  // 78
  "Inspecter la partition, la capacité et l'espace libre du disque sélectionné.",  // 79
  "Enregistrer en CSV les plages LBA d'espace libre de chaque volume.",  // 80
  "Résumé de l'espace total/libre/utilisé du disque et LBA de début du dernier bloc libre.",  // 81
  "Type, secteurs, secteur physique de début, taille de cluster, etc. de chaque partition.",  // 82
  "Erreur",  // 83
  "Avertissement",  // 84
  "Information",  // 85
  "Confirmer",  // 86
  "Non-concordance",  // 87
  "En cours",  // 88
  "Droits administrateur requis",  // 89
  "Restriction",  // 90
  "Restriction de mode",  // 91
  "Bloqué par la politique",  // 92
  "Échec de la pré-vérification",  // 93
  "Échec de la génération du plan",  // 94
  "Initialisation terminée",  // 95
  "Échec de l'initialisation",  // 96
  "Veuillez sélectionner un disque.",  // 97
  "Déjà en cours d'exécution.",  // 98
  "Des droits d'administrateur sont requis.",  // 99
  // 100
  "Ce disque contient un ou plusieurs volumes (partitions montées) : le TRIM de tout le périphérique n'est donc pas disponible. "
  "Pour utiliser le TRIM complet, supprimez tous les volumes de ce disque dans la Gestion des disques (ou un outil similaire), puis réessayez. "
  "D'ici là, utilisez uniquement le TRIM de l'espace libre.",
  "Veuillez arrêter toute opération d'écriture sur le lecteur cible pendant le TRIM.",  // 101
  "Le numéro de disque saisi ne correspond pas au numéro PD cible. Opération annulée.",  // 102
  "Saisissez le numéro du disque (nombre après PD) : ",  // 103
  "Veuillez d'abord sélectionner un disque à inspecter.",  // 104
  "Aucune lettre de lecteur montée trouvée.",  // 105
  "Le dossier n'existe pas : ",  // 106
  "Aucune information de volume disponible.",  // 107
  "L'étape de début est supérieure à l'étape de fin.",  // 108
  "Supprimer entièrement le dossier trim_real_test. Continuer ?",  // 109
  "Dossier supprimé : ",  // 110
  "Échec de la suppression du dossier : ",  // 111
  "Vérification seule en cours. Cible : ",  // 112
  "Le test est en cours d'exécution.",  // 113
  "Disque initialisé en GPT après le TRIM.",  // 114
  "Disque initialisé en MBR après le TRIM.",  // 115
  "Échec de l'initialisation du disque.",  // 116
  "CSV de la carte des fichiers enregistré",  // 117
  "Préparation",  // 118
  "Terminé",  // 119
  "Vérification",  // 120
  "Mode vérification seule : analyse des fichiers existants",  // 121
  "Analyse terminée : %d fichiers",  // 122
  "Aucun fichier à vérifier. Contrôlez le dossier trim_real_test.",  // 123
  "Vérification de l'intégrité des fichiers de 500MB démarrée",  // 124
  "Vérification terminée : Succès",  // 125
  "Vérification terminée : Échecs détectés",  // 126
  "ÉTAPE1 : Remplissage de 1/3 de l'espace libre avec des fichiers de 500MB",  // 127
  "ÉTAPE1 terminée",  // 128
  "ÉTAPE2 : Suppression d'un fichier sur 10, Flush/CSV/TRIM",  // 129
  "ÉTAPE2 terminée",  // 130
  "ÉTAPE3 : Remplissage de ~%s octets avec des fichiers de 1GB (1GB laissé libre)",  // 131
  "ÉTAPE3 terminée",  // 132
  "ÉTAPE4 : Vérification de l'intégrité des fichiers de 500MB démarrée",  // 133
  "ÉTAPE4 terminée : Vérification réussie",  // 134
  "ÉTAPE4 terminée : Échecs de vérification détectés",  // 135
  "Temps total écoulé : ",  // 136
  "Échec ou avertissement TRIM, consultez le journal.",  // 137
  "Échec de la lecture de la capacité, abandon.",  // 138
  "Impossible de créer le dossier de test : ",  // 139
  "Échec de la création du fichier : ",  // 140
  "Échec de l'écriture : ",  // 141
  "Chute de vitesse détectée : 2s=%.1f / moy.=%.1f MB/s, attente de %d min",  // 142
  "CSV de l'espace libre enregistré : ",  // 143
  "Fichiers de 1GB existants détectés : dernier index=%d, suivant=%d",  // 144
  "Échec de la vérification : fichier manquant - ",  // 145
  "Échec de la vérification : CRC différent - ",  // 146
  "Échec de l'écriture du CSV",  // 147
  "Flush réussi : ",  // 148
  "Échec du flush : ",  // 149
  "Démarrage du test réel TRIM. Volume cible : ",  // 150
  "CSV créé : ",  // 151
  "Démarrage à l'ÉTAPE %d : analyse des fichiers existants",  // 152
  "Échec de la génération du plan TRIM : ",  // 153
  "Cliquez sur Inspecter pour analyser le PhysicalDrive sélectionné.",  // 154
  "Espace total",  // 155
  "Espace libre",  // 156
  "Espace utilisé",  // 157
  "Procédure du test réel TRIM (ÉTAPE 1~5) :",  // 158
  "1) Remplir 1/3 de l'espace restant avec des fichiers aléatoires de 500MB.",  // 159
  "2) Supprimer un fichier sur 10 -> Flush -> CSV de l'espace libre -> TRIM.",  // 160
  "3) Remplir l'espace restant avec des fichiers aléatoires de 1GB (laisser ~1GB).",  // 161
  "4) Vérifier l'intégrité des fichiers de 500MB.",  // 162
  "Attente automatique en cas de chute de vitesse (réglable, 0=désactivé). Pause de 1 min après l'attente.",  // 163
  "Cliquez sur Arrêter pour annuler à tout moment.",  // 164
  "Le disque sera initialisé en GPT après le TRIM",  // 165
  "Le disque sera initialisé en MBR après le TRIM",  // 166
  "Le TRIM de l'espace libre n'est pas disponible : ",  // 167
  "Attente %d:%02d",  // 168
  "Avertissement",  // 169
  // 170
  "Le TRIM peut affecter la récupération des données ainsi que la durée de vie/les performances du SSD.\r\n"
  "Veuillez vérifier le disque cible. Continuer ?",
  "Si le périphérique utilise UAS, les transferts réels seront bloqués.",  // 171
  "Impossible d'ouvrir le handle du disque : ",  // 172
  "Initialisation du disque réussie : ",  // 173
  "IOCTL_DISK_CREATE_DISK a échoué : winerr=",  // 174
  "Guide de connexion USB",  // 175
  // 176
  "Un port USB 3.0 ou plus récent est requis (généralement bleu, mais la couleur n'est pas garantie).\r\n"
  "\r\n"
  "BOT : TRIM via ATA Pass-Through\r\n"
  "UASP : TRIM via SCSI UNMAP (repli sur ATA Pass-Through)\r\n"
  "\r\n"
  "Si le TRIM échoue :\r\n"
  "1) Débranchez puis rebranchez directement sur un port USB 3.0+\r\n"
  "2) Changez de hub/câble USB\r\n"
  "3) Après Actualiser, vérifiez Transport",
  "Onglets de l'interface initialisés",  // 177
  "Informations supplémentaires",  // 178
  "ATA Pass-Through",  // 179
  "Compatible ATA TRIM",  // 180
  "Opération annulée par l'utilisateur.",  // 181
  "Exécution du TRIM terminée avec succès.",  // 182
  "Exécution du TRIM terminée avec des lots en échec.",  // 183
  "Vrek Produits",  // 184
  "Vrek Manuel",  // 185
  "Licence",  // 186
  "Informations de licence",  // 187
  // 188
  "Ce programme est fourni gratuitement, « en l'état », sans aucune garantie.\r\n"
  "Vous l'utilisez à vos propres risques ; l'auteur décline toute responsabilité en cas de perte de données ou d'autre dommage.\r\n"
  "\r\n"
  "Sauvegardez toujours vos données avant d'exécuter un TRIM.",
  "À propos de TRIM",  // 189
  "À propos de TRIM",  // 190
  // 191
  "[ Qu'est-ce que TRIM ? ]\r\n"
  "TRIM indique au SSD quels blocs ne sont plus utilisés, afin qu'il puisse les effacer à l'avance "
  "et effectuer efficacement le ramasse-miettes (garbage collection).\r\n"
  "\r\n"
  "[ Avantages de TRIM ]\r\n"
  "- Performances d'écriture durables\r\n"
  "- Durée de vie du SSD prolongée grâce à moins de cycles d'écriture/effacement\r\n"
  "- Temps de réponse stables\r\n"
  "- Gestion efficace de l'espace par le contrôleur du SSD\r\n"
  "\r\n"
  "[ Quand faut-il exécuter TRIM ? ]\r\n"
  "- Après la suppression de nombreux fichiers\r\n"
  "- Lorsque la vitesse d'écriture a baissé\r\n"
  "- Après une longue utilisation d'un SSD USB externe sans TRIM\r\n"
  "- Lorsque le système n'applique pas lui-même le TRIM aux SSD connectés en USB\r\n"
  "\r\n"
  "[ Remarque ]\r\n"
  "Windows applique automatiquement le TRIM aux SSD SATA/NVMe internes, mais pas aux SSD externes "
  "placés derrière des ponts USB-SATA. Cet outil est conçu pour ces lecteurs.",
  "Mode d'emploi",  // 192
  "Lecteur cible",  // 193
  // 194
  "Ce test écrit sur tout l'espace libre du lecteur et peut durer longtemps.\r\n"
  "Voulez-vous continuer ?",
  "ÉTAPE1 : Exécution du TRIM avant la création des fichiers",  // 195
  // 196
  "Tous les chemins TRIM matériels (DSM / SCSI UNMAP / ATA Pass-Through) ont été refusés par ce pont USB.\r\n"
  "Pour NTFS, « Optimize-Volume -ReTrim » de Windows PowerShell est la voie native et sûre ; il sera utilisé pour appliquer de nouveau le TRIM à l'espace libre.\r\n"
  "Continuer ? (Évitez d'écrire sur le lecteur cible pendant l'opération.)",
  "Windows ReTrim uniquement (ignorer DSM / UNMAP / ATA Pass-Through)",  // 197
  // 198
  "À utiliser avec les ponts USB-SATA incompatibles (p. ex. Vansuny U52, SSK). "
  "Ignore tous les chemins TRIM matériels et exécute directement Windows Optimize-Volume -ReTrim.",
  // 199
  "Ce pont USB-SATA ne prend pas en charge le TRIM sur exFAT/FAT32.\r\n"
  "Veuillez reformater le lecteur en NTFS pour utiliser Windows ReTrim, puis réessayez.",
  "Avertissement de compatibilité TRIM",  // 200
  // 201
  "Ce pont USB-SATA indique que le TRIM n'est PAS pris en charge.\r\n"
  "Tous les chemins TRIM (DSM / SCSI UNMAP / WRITE SAME / ATA Pass-Through) risquent d'échouer.\r\n"
  "\r\n"
  "Continuer quand même ?",
  "Continuer avec Windows ReTrim",  // 202
  // 203
  "Vous pouvez ignorer le TRIM matériel et exécuter uniquement Windows Optimize-Volume -ReTrim.\r\n"
  "(Fonctionne uniquement sur les volumes NTFS.)\r\n"
  "\r\n"
  "Continuer maintenant dans ce mode ?",
  // 204
  "Optimize-Volume -ReTrim n'est disponible que sur les volumes NTFS.\r\n"
  "Ce disque n'a aucun volume NTFS : Windows ReTrim ne peut donc pas être proposé comme alternative immédiate.\r\n"
  "\r\n"
  "Reformatez le lecteur en NTFS et réessayez, ou activez manuellement « Windows ReTrim uniquement » après être passé à NTFS.",
  // 205
  "Le disque semble s'être déconnecté du bus USB.\r\n"
  "\r\n"
  "Ne fermez pas l'outil et n'utilisez pas « Retirer le périphérique en toute sécurité » de Windows.\r\n"
  "Débranchez d'abord physiquement le lecteur, rebranchez-le, puis attendez que Windows le détecte à nouveau.\r\n"
  "Une fois le lecteur détecté à nouveau, actualisez la liste des disques et relancez l'opération.",
  "Expert : autoriser une nouvelle tentative ATA Pass-Through après l'échec de ReTrim (risqué)",  // 206
  "En mode automatique, si ReTrim échoue, l'outil peut proposer un verrouillage/démontage avec avertissement + une nouvelle tentative ATA Pass-Through.",  // 207
  // 208
  "Optimize-Volume -ReTrim a échoué (par exemple StorageWMI 43022).\r\n"
  "Un ATA Pass-Through manuel peut encore fonctionner sur ce pont, mais il nécessite un verrouillage/démontage et peut déstabiliser les ponts fragiles.\r\n"
  "\r\n"
  "Lancer une nouvelle tentative experte ATA Pass-Through ?",
  "Sélectionnez le lecteur logique à utiliser pour le test réel.",  // 209
  "Graphique de vitesse",  // 210
  "Afficher le graphique chronologique de la vitesse d'écriture du dernier test.",  // 211
  "Graphique de la vitesse d'écriture",  // 212
  "Points de données : %d | Vitesse max. : %.1f MB/s | Durée : %s",  // 213
  "Enregistrer le CSV",  // 214
  "Fermer",  // 215
  "Enregistrer le CSV des données de vitesse",  // 216
  "État : Analyse des disques...",  // 217
  "État : Prêt",  // 218
  "État : Terminé",  // 219
  "État : ",  // 220
  "Vitesse : ",  // 221
  "Écoulé : ",  // 222
  "Étape : ",  // 223
  "Politique FS : mode espace libre activé (volumes NTFS/exFAT/FAT32 détectés)",  // 224
  "Politique FS : mode espace libre activé (NTFS/exFAT/FAT32)",  // 225
  "Politique FS : mode espace libre désactivé - ",  // 226
  "Échec de la création du CSV (créés) : ",  // 227
  "Échec de la création du CSV (supprimés) : ",  // 228
  "CSV : échec de la recherche de l'adresse physique idx=%d %s (err=%d)",  // 229
  "ÉTAPE4 Vérification",  // 230
  "CSV enregistré : ",  // 231
  "Disque initialisé en %s après le TRIM.",  // 232
  "Échec de l'initialisation %s du disque après le TRIM",  // 233
  "Aucun fichier dans le dossier trim_real_test.",  // 234
  "Échec de l'enregistrement du CSV : ",  // 235
  "Initialisation du disque ignorée : l'exécution du TRIM ne s'est pas terminée correctement. Résolvez le problème et relancez.",  // 236
  // 237
  "La configuration du disque a changé depuis la dernière actualisation (disque remplacé, ou modification de volume/système de fichiers détectée). "
  "La liste va être actualisée. Sélectionnez de nouveau le disque et cliquez à nouveau sur Démarrer.",
  // 238
  "Pour protéger le volume NTFS monté (protection Pinned Volume), les chemins TRIM matériels (DSM / SCSI UNMAP / ATA Pass-Through) ne sont pas utilisés sur ce pont.\r\n"
  "Pour NTFS, « Optimize-Volume -ReTrim » de Windows PowerShell est la voie native et sûre ; il sera utilisé pour appliquer de nouveau le TRIM à l'espace libre.\r\n"
  "Continuer ? (Évitez d'écrire sur le lecteur cible pendant l'opération.)",
  "Exclure les messages répétitifs",  // 239
  "Masquer les messages d'information par lot pendant les itérations TRIM. Les avertissements et les erreurs restent journalisés.",  // 240
  "ÉTAPE5 : Vérification de l'intégrité des fichiers de 1GB démarrée",  // 241
  "ÉTAPE5 terminée : Vérification réussie",  // 242
  "ÉTAPE5 terminée : Échecs de vérification détectés",  // 243
  "ÉTAPE5 Vérification",  // 244
  "5) Vérifier l'intégrité des fichiers de 1GB.",  // 245
  "%d fichiers vérifiés : %d réussis, %d en échec",  // 246
  "Remarque : les résultats ATA sont rapportés par le pont USB (SAT) et peuvent différer du SSD réel. Les périphériques UAS appliquent le TRIM via SCSI UNMAP/DSM.",  // 247
  "Méthode UASP (expert)",  // 248
  // 249
  "Mode expert — Auto est recommandé. Force la méthode TRIM sur les périphériques UASP : SCSI UNMAP traite aussi l'espace libre FAT32/exFAT "
  "(Windows ReTrim est réservé à NTFS), mais verrouille/démonte les volumes et peut déstabiliser certains ponts. Non enregistré ; revient à Auto au démarrage.",
  // 250
  "Ce disque est plus grand que ce qu'une table de partitions MBR peut adresser : le MBR adresse au plus 2^32 blocs logiques (%s sur ce disque), et l'espace au-delà serait inutilisable pour toute partition. Sélectionnez GPT et cliquez à nouveau sur Démarrer.",
  "Le volume est trop petit pour le test : l'ÉTAPE%d a trouvé %s octets libres et en nécessite %s.",  // 251
  "L'étape TRIM a échoué : aucun TRIM n'a abouti, ce test ne prouve donc rien sur TRIM. Consultez le journal pour voir les erreurs TRIM.",  // 252
  "État : Annulé (%d lots terminés sur %d)",  // 253
  "Initialisation du disque ignorée : l'exécution a été annulée.",  // 254
};
// clang-format on
static_assert(std::size(kLangTextFr) == kLangTextCount);
